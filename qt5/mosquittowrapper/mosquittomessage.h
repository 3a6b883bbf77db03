#ifndef ORVELEXTLIB_MOSQUITTOMESSAGE_H
#define ORVELEXTLIB_MOSQUITTOMESSAGE_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QMetaType>
#include <QSharedDataPointer>

struct mosquitto_message;
class MosquittoMessagePrivate;

/// One MQTT application message: topic and payload as raw bytes, quality of
/// service, retain flag and libmosquitto's message id (0 for messages built
/// by the application). Copies are cheap; it travels in queued signals once
/// QtMosquittoClientBase::init() has registered it.
class ORVELEXTLIB_EXPORT MosquittoMessage
{
public:
    /// An empty message: id 0, no topic, no payload, qos 0, retain false.
    MosquittoMessage();
    /// Copies libmosquitto's received-message record. A null record gives a
    /// default message; a record with an empty payload keeps qos 0 and retain
    /// false whatever it says.
    explicit MosquittoMessage(const mosquitto_message *msg);
    /// As above, sharing `knownTopic` when the record's topic has the same
    /// bytes (a receiver mostly sees the same few topics).
    MosquittoMessage(const mosquitto_message *msg, const QByteArray &knownTopic);
    /// Copy, move, swap and destruction, member-wise; copies share the data
    /// until one of them is changed. Any thread, one object at a time.
    ///@{
    MosquittoMessage(const MosquittoMessage &other);
    MosquittoMessage(MosquittoMessage &&other) noexcept;
    MosquittoMessage &operator=(const MosquittoMessage &other);
    MosquittoMessage &operator=(MosquittoMessage &&other) noexcept;
    ~MosquittoMessage();
    void swap(MosquittoMessage &other) noexcept { d.swap(other.d); }
    ///@}

    /// libmosquitto's message id of a received message; 0 for one built here.
    int id() const;
    /// Sets the message id; publishing does not use it.
    void setId(const int &id);
    /// The topic, raw bytes as on the wire.
    QByteArray topic() const;
    /// Sets the topic; one with a NUL byte is refused when published.
    void setTopic(const QByteArray &topic);
    /// The message body, raw bytes.
    QByteArray payload() const;
    /// Sets the message body.
    void setPayload(const QByteArray &payload);
    /// Quality of service, 0, 1 or 2.
    int qos() const;
    /// No range check: whatever is set is handed to libmosquitto.
    void setQos(const int &qos);
    /// The MQTT retain flag.
    bool retain() const;
    /// Sets the MQTT retain flag.
    void setRetain(bool retain);

    /// True when both topic and payload are non-empty.
    Q_REQUIRED_RESULT bool isValid() const;

    /// Equal when all five fields are; topic and payload byte by byte.
    ///@{
    bool operator==(const MosquittoMessage &other) const;
    bool operator!=(const MosquittoMessage &other) const { return !(*this == other); }
    ///@}

private:
    QSharedDataPointer<MosquittoMessagePrivate> d;
};

Q_DECLARE_SHARED(MosquittoMessage)
Q_DECLARE_METATYPE(MosquittoMessage)

#endif // ORVELEXTLIB_MOSQUITTOMESSAGE_H
