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
    MosquittoMessage();
    /// Copies libmosquitto's received-message record. A null record gives a
    /// default message; a record with an empty payload keeps qos 0 and retain
    /// false whatever it says.
    explicit MosquittoMessage(const mosquitto_message *msg);
    /// As above, sharing `knownTopic` when the record's topic has the same
    /// bytes (a receiver mostly sees the same few topics).
    MosquittoMessage(const mosquitto_message *msg, const QByteArray &knownTopic);
    MosquittoMessage(const MosquittoMessage &other);
    MosquittoMessage(MosquittoMessage &&other) noexcept;
    MosquittoMessage &operator=(const MosquittoMessage &other);
    MosquittoMessage &operator=(MosquittoMessage &&other) noexcept;
    ~MosquittoMessage();

    void swap(MosquittoMessage &other) noexcept { d.swap(other.d); }

    int id() const;
    void setId(const int &id);
    QByteArray topic() const;
    void setTopic(const QByteArray &topic);
    QByteArray payload() const;
    void setPayload(const QByteArray &payload);
    /// No range check: whatever is set is handed to libmosquitto.
    int qos() const;
    void setQos(const int &qos);
    bool retain() const;
    void setRetain(bool retain);

    /// True when both topic and payload are non-empty.
    Q_REQUIRED_RESULT bool isValid() const;

    bool operator==(const MosquittoMessage &other) const;
    bool operator!=(const MosquittoMessage &other) const { return !(*this == other); }

private:
    QSharedDataPointer<MosquittoMessagePrivate> d;
};

Q_DECLARE_SHARED(MosquittoMessage)
Q_DECLARE_METATYPE(MosquittoMessage)

#endif // ORVELEXTLIB_MOSQUITTOMESSAGE_H
