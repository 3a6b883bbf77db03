#!/usr/bin/env python3
"""Applies deliberate faults to the library one at a time and records which
ones the test suite catches.

Each fault replaces one exact piece of a source file under qt5/ (the piece must
occur exactly once, so a fault that no longer applies is reported as "stale"
instead of silently testing nothing), rebuilds, and runs the tests of the
fault's CTest label. A fault is caught when the build of the tests fails or a
test fails; the source is restored after every fault, also on interruption.

    scripts/faultcheck.py [--build DIR] [--only NAME[,NAME...]] [--list]

The build directory must be configured with tests (scripts/test.sh --quick -N
makes build/). Prints one line per fault and a summary table in Markdown.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# name, file under qt5/, exact original text, faulty text, CTest label
FAULTS = [
    # Zip
    ("zip-no-crc-check", "zip/unzip.cpp",
     "(produced != entry.uncompressedSize || crc != entry.crc)",
     "(produced != entry.uncompressedSize)", "zip"),
    ("zip-dotdot-allowed", "zip/zipcommon.cpp",
     'if (part == QLatin1String(".."))', 'if (part == QLatin1String("..."))', "zip"),
    ("zip-utf8-flag-lost", "zip/zip.cpp",
     "                           | (utf8 ? FlagUtf8 : 0));", "                           | 0);", "zip"),
    ("zip-descriptor-check-byte", "zip/unzip.cpp",
     "? quint8(entry.modTime >> 8)", "? quint8(entry.crc >> 24)", "zip"),
    # In-memory compression
    ("gz-bomb-unbounded", "gz/boundedinflate.cpp",
     "                if (stream.avail_out == 0)\n                    return InflateResult::TooLarge;\n",
     "", "gz"),
    ("gz-truncation-bound", "gz/gzipstreamwrapper.cpp",
     "if (data.size() <= 4) {", "if (data.size() < 4) {", "gz"),
    # Values
    ("fixnumber-half-up", "values/fixnumber.cpp",
     "return firstDigit > 5 || (firstDigit == 5", "return firstDigit >= 5 || (firstDigit == 5", "values"),
    ("appversion-prerelease-order", "values/appversion.cpp",
     "return true; // a pre-release comes before its release", "return false;", "values"),
    ("bcd-nibble-weight", "values/bcd.cpp",
     "(b % 16) + (b / 16) * 10", "(b % 16) + (b / 16) * 16", "values"),
    # Settings formats and directories
    ("xml-underscore-unescaped", "qsettingsext/xmlnamecodec.cpp",
     "            return escapeAt(s, size, i) >= 0;", "            return false;", "qsettingsext"),
    ("xml-digit-starts-name", "qsettingsext/xmlnamecodec.cpp",
     "return i == 0 ? !isNameStartChar(c) : !isNameChar(c);", "return !isNameChar(c);", "qsettingsext"),
    ("json-bytearray-base64", "qsettingsext/jsonsettings.cpp",
     "QLatin1String(value.toByteArray().toHex())", "QLatin1String(value.toByteArray().toBase64())",
     "qsettingsext"),
    ("json-depth-off-by-one", "qsettingsext/jsonsettings.cpp",
     "if (state.maxLevel > SettingsReadLimits::MaxDepth) {",
     "if (state.maxLevel >= SettingsReadLimits::MaxDepth) {", "qsettingsext"),
    ("settings-unreadable-file-not-kept", "qsettingsext/settingsfileguard.cpp",
     "        || keepCopy(path, content,", "        || true || keepCopy(path, content,", "qsettingsext"),
    ("dircreator-umask-ignored", "qsettingsext/systemdirs_unix.cpp",
     "const int forbidden = owner << 12 | owner << 8 | group << 4 | other;",
     "const int forbidden = 0; Q_UNUSED(owner) Q_UNUSED(group) Q_UNUSED(other)", "qsettingsext"),
    # Serial
    ("serial-xonxoff-word", "serial/rs232settings.cpp",
     'if (upper == QLatin1String("XONXOFF") || upper == QLatin1String("XON/XOFF"))',
     'if (upper == QLatin1String("XON/XOFF"))', "serial"),
    # Crypto
    ("vmpc-16-byte-iv-ignored", "crypto/vmpc.cpp",
     "return length >= MinLength && length <= MaxLength", "return length > MinLength && length <= MaxLength",
     "crypto"),
    ("aes-two-block-round-lost", "crypto/aes.cpp",
     "void encryptTwo(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)\n{",
     "void encryptTwo(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)\n{\n    --rounds;",
     "crypto"),
    ("crypted-forged-length", "crypto/cryptedsettingsstorage.cpp",
     "    if (expected > limit)\n        return false;\n", "", "crypto"),
    ("certstore-expiry-flipped", "crypto/cryptodatamanager.cpp",
     "QDateTime::currentDateTime() >= locals.first().expiryDate()",
     "QDateTime::currentDateTime() <= locals.first().expiryDate()", "crypto"),
    # STOMP
    ("stomp-content-length-ignored", "stomp/qstompclient.cpp",
     "            if (bodyLength >= 0) {\n                const qint64 bodyStart",
     "            if (false) {\n                const qint64 bodyStart", "stomp"),
    ("stomp-header-separator", "stomp/qstompframe.cpp",
     "        bytes += ':';\n", "        bytes += \": \";\n", "stomp"),
    ("stomp-heartbeat-hidden", "stomp/qstompclient.cpp",
     "&& (!frameOpen || isLineBreaks(data))) {", "&& !frameOpen) {", "stomp"),
    # HTTP loader
    ("http-range-end-short", "httpfileloader/httpfileloader.cpp",
     ".arg(offset + d->blockSize)", ".arg(offset + d->blockSize - 1)", "httpfileloader"),
    ("http-changed-file-kept", "httpfileloader/httpfileloader.cpp",
     "if (d->lastTotal >= 0 && total != d->lastTotal) {",
     "if (false && d->lastTotal >= 0 && total != d->lastTotal) {", "httpfileloader"),
    ("http-gap-accepted", "httpfileloader/httpfileloader.cpp",
     "            || start > sizeBefore) {", "            ) {", "httpfileloader"),
    # SQLite
    ("sqlite-busy-probe-closes", "sqlite/basesqlitedbconnector.cpp",
     "        if (!isUnreadableFile(error)) {", "        if (false) {", "sqlite"),
    ("sqlite-shared-release-closes", "sqlite/basesqlitedbconnector.cpp",
     "            if (count > 0) {\n                // Others keep",
     "            if (count > 1) {\n                // Others keep", "sqlite"),
    ("sqlite-readonly-writable", "sqlite/basesqlitedbconnector.cpp",
     '";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"', '";QSQLITE_OPEN_URI"', "sqlite"),
    # Logger
    ("logger-indent-14", "logger/logging_p.h",
     'QStringLiteral("               ")', 'QStringLiteral("              ")', "logger"),
    ("logger-keep-day-off-by-one", "logger/loggercleanup.cpp",
     "        if (date.addDays(keepingDays) <= today) {", "        if (date.addDays(keepingDays) < today) {",
     "logger"),
    ("logger-callback-guard-global", "logger/loggermanager.cpp",
     "!CallbackScope::isRunning(context.category)", "!CallbackScope::isRunning(\"\")", "logger"),
    ("logger-cleanup-jobs-overlap", "logger/loggercleanup.cpp",
     "    const QMutexLocker jobLock(&jobMutex);\n", "", "logger"),
    # MQTT
    ("mqtt-no-resubscribe", "mosquittowrapper/basemosquittoworker.cpp",
     "const bool subscribed = d->client && d->client->subscribe(sub, 0);",
     "const bool subscribed = d->client != nullptr;", "mosquittowrapper"),
    ("mqtt-error-separator", "mosquittowrapper/qtmosquittoclient_p.cpp",
     'where + QLatin1String(": ") + text', 'where + QLatin1String(" ") + text', "mosquittowrapper"),
    ("mqtt-watch-never-rebuilds", "mosquittowrapper/basemosquittoworker.cpp",
     "    doStart();\n    d->connectTime.invalidate();\n}", "    d->connectTime.invalidate();\n}",
     "mosquittowrapper"),
    ("mqtt-qos-dropped", "mosquittowrapper/qtmosquittoclient_p.cpp",
     "payload.constData(), msg.qos(), msg.retain()", "payload.constData(), 0, msg.retain()",
     "mosquittowrapper"),
    # Workers
    ("workers-unstarted-thread-waits", "workers/abstractworkercontroller.cpp",
     "if (!thread || thread->isRunning() || thread->isFinished())",
     "if (!thread || thread->isRunning() || !thread->isFinished())", "workers"),
    ("workers-stop-not-sent", "workers/abstractworkercontroller.cpp",
     "    emit stopWorker();\n    while (!m_threads.isEmpty()) {", "    while (!m_threads.isEmpty()) {",
     "workers"),
    # System utilities
    ("sys-timezone-sign", "sys/sysutils_linux.cpp",
     ".arg(offsetHours > 0 ? QLatin1Char('-') : QLatin1Char('+'))",
     ".arg(offsetHours > 0 ? QLatin1Char('+') : QLatin1Char('-'))", "sys"),
    ("sys-loopback-counted", "sys/sysutils_linux.cpp",
     'if (typeKnown ? type == LoopbackLinkType : name == QLatin1String("lo"))', "if (false)", "sys"),
    ("sys-size-unit-bound", "sys/sysutils.cpp",
     "if (bytes > 0x140000000LL)", "if (bytes > 0x100000000LL)", "sys"),
]


def run(cmd, timeout):
    try:
        proc = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace")
        return proc.returncode, proc.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        return -1, out + "\n(timed out)"


def failed_tests(output):
    names = []
    for line in output.splitlines():
        line = line.strip()
        # CTest's summary lists failures as "<n> - <name> (Failed|Timeout|...)".
        if " - " in line and line.endswith(")") and line[0].isdigit():
            names.append(line.split(" - ", 1)[1].rsplit(" (", 1)[0])
    return names


def check(fault, build):
    name, path, original, faulty, label = fault
    source = os.path.join(ROOT, "qt5", path)
    with open(source, encoding="utf-8") as f:
        text = f.read()
    if text.count(original) != 1:
        return "stale", "the original text occurs %d times" % text.count(original)
    try:
        with open(source, "w", encoding="utf-8") as f:
            f.write(text.replace(original, faulty))
        rc, out = run(["cmake", "--build", build], 1800)
        if rc != 0:
            return "build", "the faulty library does not build"
        rc, out = run(["ctest", "--test-dir", build, "-L", label, "--timeout", "180",
                       "--parallel", str(os.cpu_count() or 2)], 3600)
        if rc == 0:
            return "missed", ""
        return "caught", ", ".join(failed_tests(out)) or "ctest failed"
    finally:
        with open(source, "w", encoding="utf-8") as f:
            f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--only", default="")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    chosen = [f for f in FAULTS if not args.only or f[0] in args.only.split(",")]
    if args.list:
        for f in chosen:
            print("%-28s %-40s %s" % (f[0], f[1], f[4]))
        return 0
    rows = []
    for fault in chosen:
        started = time.time()
        outcome, detail = check(fault, args.build)
        rows.append((fault, outcome, detail))
        print("%-28s %-7s %s (%.0f s)" % (fault[0], outcome, detail, time.time() - started),
              flush=True)
    # Leave the build matching the sources again.
    run(["cmake", "--build", args.build], 1800)
    print("\n| Fault | Where | Label | Outcome | Failing tests |")
    print("|---|---|---|---|---|")
    for fault, outcome, detail in rows:
        print("| %s | %s | %s | %s | %s |" % (fault[0], fault[1], fault[4], outcome, detail))
    caught = sum(1 for r in rows if r[1] == "caught")
    print("\n%d of %d faults caught" % (caught, len(rows)))
    return 0 if all(r[1] in ("caught",) for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
