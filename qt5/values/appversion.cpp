#include "appversion.h"
#include "appversion_p.h"

#include <orvelextlib_version.h>

#include <QLocale>
#include <QStringList>

#include <utility>

const QString AppVersion::VERSION = QStringLiteral(ORVELEXTLIB_VERSION_STRING);
const QString AppVersion::BUILD = appVersionBuildMoment(__DATE__, __TIME__);

namespace {

struct VersionNumber
{
    int major = -1;
    int minor = -1;
    int patch = -1;
    QString modificator;
};

// All four parts are stored together or not at all.
VersionNumber parseVersion(const QString &text)
{
    const QStringList parts = text.simplified().split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return {};
    bool ok = false;
    const int major = parts.at(0).toInt(&ok, 10);
    if (!ok)
        return {};
    const int minor = parts.at(1).toInt(&ok, 10);
    if (!ok)
        return {};
    const QString third = parts.at(2).toLower();
    // "a" is tried first wherever it stands, then "b", then "rc".
    int marker = third.indexOf(QLatin1Char('a'));
    if (marker < 0)
        marker = third.indexOf(QLatin1Char('b'));
    if (marker < 0)
        marker = third.indexOf(QLatin1String("rc"));
    const int patch = (marker < 0 ? third : third.left(marker)).toInt(&ok, 10);
    if (!ok)
        return {};
    VersionNumber number;
    number.major = major;
    number.minor = minor;
    number.patch = patch;
    if (marker >= 0)
        number.modificator = third.mid(marker);
    return number;
}

// -1: a before b, 1: a after b, 0: same numbers (markers not compared).
int compareNumbers(int aMajor, int aMinor, int aPatch, int bMajor, int bMinor, int bPatch)
{
    if (aMajor != bMajor)
        return aMajor < bMajor ? -1 : 1;
    if (aMinor != bMinor)
        return aMinor < bMinor ? -1 : 1;
    if (aPatch != bPatch)
        return aPatch < bPatch ? -1 : 1;
    return 0;
}

bool lessThan(const VersionNumber &a, const VersionNumber &b)
{
    const int c = compareNumbers(a.major, a.minor, a.patch, b.major, b.minor, b.patch);
    if (c != 0)
        return c < 0;
    if (a.modificator.isEmpty())
        return false;
    if (b.modificator.isEmpty())
        return true; // a pre-release comes before its release
    return a.modificator < b.modificator;
}

bool equalTo(const VersionNumber &a, const VersionNumber &b)
{
    return a.major == b.major && a.minor == b.minor && a.patch == b.patch
           && a.modificator == b.modificator;
}

VersionNumber numberOf(const AppVersion &v)
{
    VersionNumber n;
    n.major = v.majorVersion();
    n.minor = v.minorVersion();
    n.patch = v.patchVersion();
    n.modificator = v.modificator();
    return n;
}

} // namespace

QString appVersionBuildMoment(const char *date, const char *time)
{
    const QString text = QStringLiteral("%1 %2")
                             .arg(QLatin1String(date), QLatin1String(time))
                             .simplified();
    return QLocale(QStringLiteral("en"))
        .toDateTime(text, QStringLiteral("MMM d yyyy hh:mm:ss"))
        .toString(Qt::ISODate);
}

AppVersion::AppVersion()
    : AppVersion(VERSION, BUILD)
{
}

AppVersion::AppVersion(const QString &version, const QString &build)
{
    setVersion(version);
    setBuild(build);
}

void AppVersion::swap(AppVersion &other) noexcept
{
    std::swap(m_major, other.m_major);
    std::swap(m_minor, other.m_minor);
    std::swap(m_patch, other.m_patch);
    m_modificator.swap(other.m_modificator);
    m_build.swap(other.m_build);
}

void AppVersion::setVersion(const QString &version)
{
    VersionNumber number = parseVersion(version);
    m_major = number.major;
    m_minor = number.minor;
    m_patch = number.patch;
    m_modificator = std::move(number.modificator);
}

void AppVersion::setBuild(const QString &build)
{
    m_build = QDateTime::fromString(build, Qt::ISODate);
}

QString AppVersion::version() const
{
    return QString::number(m_major) + QLatin1Char('.') + QString::number(m_minor)
           + QLatin1Char('.') + QString::number(m_patch) + m_modificator;
}

QString AppVersion::build() const
{
    return m_build.toString(Qt::ISODate);
}

bool AppVersion::isValid() const
{
    return m_major >= 0 && m_minor >= 0 && m_patch >= 0 && m_build.isValid();
}

bool AppVersion::versionEquilTo(const AppVersion &other) const
{
    return equalTo(numberOf(*this), numberOf(other));
}

bool AppVersion::versionLessThen(const AppVersion &other) const
{
    return lessThan(numberOf(*this), numberOf(other));
}

bool AppVersion::versionMoreThen(const AppVersion &other) const
{
    return lessThan(numberOf(other), numberOf(*this));
}

bool AppVersion::operator==(const AppVersion &other) const
{
    return versionEquilTo(other) && m_build == other.m_build;
}

bool AppVersion::operator<(const AppVersion &other) const
{
    return versionLessThen(other) || (versionEquilTo(other) && m_build < other.m_build);
}

bool AppVersion::operator>(const AppVersion &other) const
{
    return versionMoreThen(other) || (versionEquilTo(other) && m_build > other.m_build);
}

bool AppVersion::operator<=(const AppVersion &other) const
{
    return *this == other || *this < other;
}

bool AppVersion::operator>=(const AppVersion &other) const
{
    return *this == other || *this > other;
}

bool AppVersion::lessThen(const QString &a, const QString &b)
{
    return lessThan(parseVersion(a), parseVersion(b));
}

bool AppVersion::moreThen(const QString &a, const QString &b)
{
    return lessThan(parseVersion(b), parseVersion(a));
}

bool AppVersion::equilTo(const QString &a, const QString &b)
{
    return equalTo(parseVersion(a), parseVersion(b));
}
