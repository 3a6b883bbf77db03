#ifndef ORVELEXTLIB_APPVERSION_H
#define ORVELEXTLIB_APPVERSION_H

#include <orvelextlib_export.h>

#include <QDateTime>
#include <QMetaType>
#include <QString>

/// A version "major.minor.patch" with an optional pre-release marker
/// ("a…", "b…" or "rc…", kept in lower case: 4.2.6, 4.2.6rc1) and a build
/// date-time. Versions order by the numbers, then by the marker (a release
/// is newer than its pre-releases; markers compare as strings, so
/// a1 < b1 < rc1 and rc10 < rc2), and in the full comparisons by the build.
///
/// A failed parse leaves -1.-1.-1 without marker, and a build text that is
/// not ISO 8601 an invalid build; either makes isValid() false. A plain
/// value type.
class ORVELEXTLIB_EXPORT AppVersion
{
public:
    /// "4.2.6": the version of this library.
    static const QString VERSION;
    /// The moment this library was built, ISO 8601 (2018-01-19T12:16:05).
    static const QString BUILD;

    /// The library's own version and build (VERSION and BUILD).
    AppVersion();
    /// `build` is read as ISO 8601 (Qt::ISODate).
    AppVersion(const QString &version, const QString &build);
    /// Copies, moves and swap take all five members.
    ///@{
    AppVersion(const AppVersion &other) = default;
    AppVersion(AppVersion &&other) noexcept = default;
    AppVersion &operator=(const AppVersion &other) = default;
    AppVersion &operator=(AppVersion &&other) noexcept = default;
    void swap(AppVersion &other) noexcept;
    ///@}
    ~AppVersion() = default;

    /// Parses the text (blanks around it are ignored; exactly three parts
    /// separated by "."; the marker starts at the first "a", else the first
    /// "b", else the first "rc" of the third part) and replaces the four
    /// version members, also with the -1 result of a failed parse. The build
    /// stays.
    void setVersion(const QString &version);
    /// Reads the build as ISO 8601; any other text gives an invalid build.
    void setBuild(const QString &build);

    /// "major.minor.patch" followed by the marker; -1.-1.-1 when unparsed.
    QString version() const;
    /// The build as ISO 8601.
    QString build() const;
    /// The build moment.
    QDateTime buildDt() const { return m_build; }
    /// The parts of the version number; -1 (and an empty marker) when unparsed.
    ///@{
    int majorVersion() const { return m_major; }
    int minorVersion() const { return m_minor; }
    int patchVersion() const { return m_patch; }
    QString modificator() const { return m_modificator; }
    ///@}

    /// Major, minor and patch zero or more, and a valid build.
    Q_REQUIRED_RESULT bool isValid() const;

    /// Version equality and order; the build is ignored.
    ///@{
    bool versionEquilTo(const AppVersion &other) const;
    bool versionLessThen(const AppVersion &other) const;
    bool versionMoreThen(const AppVersion &other) const;
    ///@}

    /// Equal versions and equal builds, and the negation.
    ///@{
    bool operator==(const AppVersion &other) const;
    bool operator!=(const AppVersion &other) const { return !(*this == other); }
    ///@}
    /// Version order; with equal versions, the earlier build is less. The
    /// forms with "=" are also true when operator==() is.
    ///@{
    bool operator<(const AppVersion &other) const;
    bool operator>(const AppVersion &other) const;
    bool operator<=(const AppVersion &other) const;
    bool operator>=(const AppVersion &other) const;
    ///@}

    /// Compare the version numbers of two texts (builds play no part); a
    /// text that does not parse counts as -1.-1.-1.
    ///@{
    static bool lessThen(const QString &a, const QString &b);
    static bool moreThen(const QString &a, const QString &b);
    static bool equilTo(const QString &a, const QString &b);
    ///@}

private:
    int m_major = -1;
    int m_minor = -1;
    int m_patch = -1;
    QString m_modificator;
    QDateTime m_build;
};

Q_DECLARE_METATYPE(AppVersion)

#endif // ORVELEXTLIB_APPVERSION_H
