// Linked into every test in ThreadSanitizer builds (-DORVEL_SANITIZE=thread).
//
// Qt is not instrumented, and its mutexes, semaphores and event queues
// synchronise with futexes and atomics that ThreadSanitizer cannot see. Every
// hand-over through them would be reported as a race. This file tells
// ThreadSanitizer about that synchronisation instead of suppressing reports:
//
// - the out-of-line parts of QMutex, QReadWriteLock, QSemaphore and
//   QWaitCondition::wait that instrumented code calls are wrapped here (same
//   symbols, so the executable's definitions win over Qt's), with acquire and
//   release annotations on the lock's address; their inline fast paths are
//   instrumented already;
// - a cross-thread hand-over through Qt's event queue (signals, queued and
//   posted calls, deleteLater, quitting a thread) releases one process-wide
//   token, and every event delivery (Qt's event-notify callback) acquires it;
// - tasks started on a thread pool run between an acquire and a release of
//   the token, and waiting for the pool or a future acquires it;
// - a thread releases the token when it finishes (before anyone connected to
//   finished() hears of it) and again when it has exited; whoever learns that
//   it finished (QThread::wait(), isFinished(), isRunning(), destroying the
//   thread object) waits for that exit and acquires the token (Qt orders its
//   finishing steps, deferred deletions included, under its own lock).
//
// The event token orders a little more than Qt strictly does, so it can hide
// a race that only happens between an emission and an unrelated delivery; it
// never invents one.
#include <QtCore/qdeadlinetimer.h>
#include <QtCore/qnamespace.h>
#include <QtCore/qobject.h>
#include <QtCore/qobjectdefs.h>
#include <QtCore/qrunnable.h>
#include <QtCore/qthread.h>

#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

class QBasicMutex;
class QMutex;
class QReadWriteLock;
class QSemaphore;
class QWaitCondition;
class QEvent;
namespace QtPrivate {
class QSlotObjectBase;
}

namespace {

char eventToken;

template<typename Fn>
Fn next(const char *symbol)
{
    void *address = dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "tsan_qt: %s not found\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Fn>(address);
}

#define ORVEL_NEXT(type, symbol) static const auto real = next<type>(symbol)

bool acquireOnDelivery(void **)
{
    __tsan_acquire(&eventToken);
    return false; // deliver the event as usual
}

[[maybe_unused]] const bool registered = [] {
    QInternal::registerCallback(QInternal::EventNotifyCallback, acquireOnDelivery);
    return true;
}();

// Wraps a functor or member-function slot: its destruction may come from
// another thread once Qt's (invisible) reference count says the last call is
// over, so every call ends with a release and the destruction acquires.
class TrackedSlot : public QtPrivate::QSlotObjectBase
{
public:
    explicit TrackedSlot(QtPrivate::QSlotObjectBase *inner) : QSlotObjectBase(&impl), m_inner(inner) {}

private:
    static void impl(int which, QSlotObjectBase *self, QObject *receiver, void **args, bool *ret)
    {
        auto *slot = static_cast<TrackedSlot *>(self);
        switch (which) {
        case Destroy:
            __tsan_acquire(&eventToken);
            slot->m_inner->destroyIfLastRef();
            delete slot;
            break;
        case Call:
            __tsan_acquire(&eventToken);
            slot->m_inner->call(receiver, args);
            __tsan_release(&eventToken);
            break;
        case Compare:
            *ret = slot->m_inner->compare(args);
            break;
        default:
            break;
        }
    }

    QtPrivate::QSlotObjectBase *m_inner;
};

QtPrivate::QSlotObjectBase *tracked(QtPrivate::QSlotObjectBase *slot)
{
    return slot ? new TrackedSlot(slot) : nullptr;
}

} // namespace

// --- mutexes ---------------------------------------------------------------

void basicMutexLockInternal(QBasicMutex *m) asm("_ZN11QBasicMutex12lockInternalEv");
void basicMutexLockInternal(QBasicMutex *m)
{
    ORVEL_NEXT(void (*)(QBasicMutex *), "_ZN11QBasicMutex12lockInternalEv");
    real(m);
    __tsan_acquire(m);
}

bool basicMutexLockInternalTimed(QBasicMutex *m, int timeout) asm("_ZN11QBasicMutex12lockInternalEi");
bool basicMutexLockInternalTimed(QBasicMutex *m, int timeout)
{
    ORVEL_NEXT(bool (*)(QBasicMutex *, int), "_ZN11QBasicMutex12lockInternalEi");
    const bool locked = real(m, timeout);
    if (locked)
        __tsan_acquire(m);
    return locked;
}

void basicMutexUnlockInternal(QBasicMutex *m) asm("_ZN11QBasicMutex14unlockInternalEv");
void basicMutexUnlockInternal(QBasicMutex *m)
{
    ORVEL_NEXT(void (*)(QBasicMutex *), "_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(m);
    real(m);
}

void mutexLock(QMutex *m) asm("_ZN6QMutex4lockEv");
void mutexLock(QMutex *m)
{
    ORVEL_NEXT(void (*)(QMutex *), "_ZN6QMutex4lockEv");
    real(m);
    __tsan_acquire(m);
}

bool mutexTryLock(QMutex *m, int timeout) asm("_ZN6QMutex7tryLockEi");
bool mutexTryLock(QMutex *m, int timeout)
{
    ORVEL_NEXT(bool (*)(QMutex *, int), "_ZN6QMutex7tryLockEi");
    const bool locked = real(m, timeout);
    if (locked)
        __tsan_acquire(m);
    return locked;
}

void mutexUnlock(QMutex *m) asm("_ZN6QMutex6unlockEv");
void mutexUnlock(QMutex *m)
{
    ORVEL_NEXT(void (*)(QMutex *), "_ZN6QMutex6unlockEv");
    __tsan_release(m);
    real(m);
}

// --- read-write locks ------------------------------------------------------

#define ORVEL_RWLOCK(name, symbol)                        \
    void name(QReadWriteLock *l) asm(symbol);             \
    void name(QReadWriteLock *l)                          \
    {                                                     \
        ORVEL_NEXT(void (*)(QReadWriteLock *), symbol);   \
        real(l);                                          \
        __tsan_acquire(l);                                \
    }
ORVEL_RWLOCK(rwLockForRead, "_ZN14QReadWriteLock11lockForReadEv")
ORVEL_RWLOCK(rwLockForWrite, "_ZN14QReadWriteLock12lockForWriteEv")

bool rwTryLockForRead(QReadWriteLock *l) asm("_ZN14QReadWriteLock14tryLockForReadEv");
bool rwTryLockForRead(QReadWriteLock *l)
{
    ORVEL_NEXT(bool (*)(QReadWriteLock *), "_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = real(l);
    if (locked)
        __tsan_acquire(l);
    return locked;
}

bool rwTryLockForReadTimed(QReadWriteLock *l, int timeout) asm("_ZN14QReadWriteLock14tryLockForReadEi");
bool rwTryLockForReadTimed(QReadWriteLock *l, int timeout)
{
    ORVEL_NEXT(bool (*)(QReadWriteLock *, int), "_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = real(l, timeout);
    if (locked)
        __tsan_acquire(l);
    return locked;
}

bool rwTryLockForWrite(QReadWriteLock *l) asm("_ZN14QReadWriteLock15tryLockForWriteEv");
bool rwTryLockForWrite(QReadWriteLock *l)
{
    ORVEL_NEXT(bool (*)(QReadWriteLock *), "_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = real(l);
    if (locked)
        __tsan_acquire(l);
    return locked;
}

bool rwTryLockForWriteTimed(QReadWriteLock *l, int timeout) asm("_ZN14QReadWriteLock15tryLockForWriteEi");
bool rwTryLockForWriteTimed(QReadWriteLock *l, int timeout)
{
    ORVEL_NEXT(bool (*)(QReadWriteLock *, int), "_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = real(l, timeout);
    if (locked)
        __tsan_acquire(l);
    return locked;
}

void rwUnlock(QReadWriteLock *l) asm("_ZN14QReadWriteLock6unlockEv");
void rwUnlock(QReadWriteLock *l)
{
    ORVEL_NEXT(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock6unlockEv");
    __tsan_release(l);
    real(l);
}

// --- wait conditions: the lock is given up and taken again inside Qt -------

bool waitMutex(QWaitCondition *c, QMutex *m, QDeadlineTimer t) asm("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
bool waitMutex(QWaitCondition *c, QMutex *m, QDeadlineTimer t)
{
    ORVEL_NEXT(bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer),
               "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(m);
    const bool woken = real(c, m, t);
    __tsan_acquire(m);
    return woken;
}

bool waitMutexMs(QWaitCondition *c, QMutex *m, unsigned long ms) asm("_ZN14QWaitCondition4waitEP6QMutexm");
bool waitMutexMs(QWaitCondition *c, QMutex *m, unsigned long ms)
{
    ORVEL_NEXT(bool (*)(QWaitCondition *, QMutex *, unsigned long), "_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(m);
    const bool woken = real(c, m, ms);
    __tsan_acquire(m);
    return woken;
}

bool waitLock(QWaitCondition *c, QReadWriteLock *l, QDeadlineTimer t) asm("_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer");
bool waitLock(QWaitCondition *c, QReadWriteLock *l, QDeadlineTimer t)
{
    ORVEL_NEXT(bool (*)(QWaitCondition *, QReadWriteLock *, QDeadlineTimer),
               "_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer");
    __tsan_release(l);
    const bool woken = real(c, l, t);
    __tsan_acquire(l);
    return woken;
}

bool waitLockMs(QWaitCondition *c, QReadWriteLock *l, unsigned long ms) asm("_ZN14QWaitCondition4waitEP14QReadWriteLockm");
bool waitLockMs(QWaitCondition *c, QReadWriteLock *l, unsigned long ms)
{
    ORVEL_NEXT(bool (*)(QWaitCondition *, QReadWriteLock *, unsigned long),
               "_ZN14QWaitCondition4waitEP14QReadWriteLockm");
    __tsan_release(l);
    const bool woken = real(c, l, ms);
    __tsan_acquire(l);
    return woken;
}

void wakeOne(QWaitCondition *c) asm("_ZN14QWaitCondition7wakeOneEv");
void wakeOne(QWaitCondition *c)
{
    ORVEL_NEXT(void (*)(QWaitCondition *), "_ZN14QWaitCondition7wakeOneEv");
    __tsan_release(c);
    real(c);
}

void wakeAll(QWaitCondition *c) asm("_ZN14QWaitCondition7wakeAllEv");
void wakeAll(QWaitCondition *c)
{
    ORVEL_NEXT(void (*)(QWaitCondition *), "_ZN14QWaitCondition7wakeAllEv");
    __tsan_release(c);
    real(c);
}

// --- semaphores ------------------------------------------------------------

void semAcquire(QSemaphore *s, int n) asm("_ZN10QSemaphore7acquireEi");
void semAcquire(QSemaphore *s, int n)
{
    ORVEL_NEXT(void (*)(QSemaphore *, int), "_ZN10QSemaphore7acquireEi");
    real(s, n);
    __tsan_acquire(s);
}

bool semTryAcquire(QSemaphore *s, int n) asm("_ZN10QSemaphore10tryAcquireEi");
bool semTryAcquire(QSemaphore *s, int n)
{
    ORVEL_NEXT(bool (*)(QSemaphore *, int), "_ZN10QSemaphore10tryAcquireEi");
    const bool taken = real(s, n);
    if (taken)
        __tsan_acquire(s);
    return taken;
}

bool semTryAcquireTimed(QSemaphore *s, int n, int timeout) asm("_ZN10QSemaphore10tryAcquireEii");
bool semTryAcquireTimed(QSemaphore *s, int n, int timeout)
{
    ORVEL_NEXT(bool (*)(QSemaphore *, int, int), "_ZN10QSemaphore10tryAcquireEii");
    const bool taken = real(s, n, timeout);
    if (taken)
        __tsan_acquire(s);
    return taken;
}

void semRelease(QSemaphore *s, int n) asm("_ZN10QSemaphore7releaseEi");
void semRelease(QSemaphore *s, int n)
{
    ORVEL_NEXT(void (*)(QSemaphore *, int), "_ZN10QSemaphore7releaseEi");
    __tsan_release(s);
    real(s, n);
}

// --- threads ---------------------------------------------------------------

namespace {
// A thread object may be destroyed as soon as Qt has told its owner that the
// thread finished, while the thread still runs Qt's last steps over it (and
// calls back into its meta-object). Qt waits for that inside its own lock; here
// the destructor waits until the thread has really exited, which it marks with
// a release on the way out.
struct ThreadExit
{
    std::atomic<int> state{0}; // 1 started, 2 exited
};

std::mutex exitsLock;
std::unordered_map<const QThread *, std::shared_ptr<ThreadExit>> exits;

struct ExitMark
{
    std::shared_ptr<ThreadExit> exit;
    ~ExitMark()
    {
        if (exit) {
            __tsan_release(&eventToken);
            exit->state.store(2, std::memory_order_release);
        }
    }
};

void watchThread(QThread *t)
{
    auto exit = std::make_shared<ThreadExit>();
    {
        const std::lock_guard<std::mutex> lock(exitsLock);
        exits[t] = exit;
    }
    QObject::connect(
        t, &QThread::started, t,
        [exit] {
            thread_local ExitMark mark;
            mark.exit = exit;
            exit->state.store(1, std::memory_order_release);
        },
        Qt::DirectConnection);
    // The first connection to finished(), so it runs before the queued
    // connections that tell other threads (deleteLater of the thread object).
    QObject::connect(t, &QThread::finished, t, [] { __tsan_release(&eventToken); }, Qt::DirectConnection);
}

// Waits until a thread that has finished (as Qt reported) has also exited,
// then acquires what it released on the way out. `forget` drops the record
// (the thread object is going away).
void awaitExit(const QThread *t, bool forget)
{
    std::shared_ptr<ThreadExit> exit;
    {
        const std::lock_guard<std::mutex> lock(exitsLock);
        const auto it = exits.find(t);
        if (it == exits.end())
            return;
        exit = it->second;
        if (forget)
            exits.erase(it);
    }
    if (exit->state.load(std::memory_order_acquire) == 0)
        return; // never started
    for (int i = 0; i < 10000 && exit->state.load(std::memory_order_acquire) != 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    __tsan_acquire(&eventToken);
}
} // namespace

void threadConstruct(QThread *t, QObject *parent) asm("_ZN7QThreadC2EP7QObject");
void threadConstruct(QThread *t, QObject *parent)
{
    ORVEL_NEXT(void (*)(QThread *, QObject *), "_ZN7QThreadC2EP7QObject");
    real(t, parent);
    watchThread(t);
}

void threadConstructComplete(QThread *t, QObject *parent) asm("_ZN7QThreadC1EP7QObject");
void threadConstructComplete(QThread *t, QObject *parent)
{
    ORVEL_NEXT(void (*)(QThread *, QObject *), "_ZN7QThreadC1EP7QObject");
    real(t, parent);
    watchThread(t);
}

// QThread::create() builds its thread object inside Qt.
QThread *threadCreate(std::future<void> &&future) asm("_ZN7QThread16createThreadImplEOSt6futureIvE");
QThread *threadCreate(std::future<void> &&future)
{
    ORVEL_NEXT(QThread * (*)(std::future<void> &&), "_ZN7QThread16createThreadImplEOSt6futureIvE");
    QThread *t = real(std::move(future));
    if (t)
        watchThread(t);
    return t;
}

void threadDestruct(QThread *t) asm("_ZN7QThreadD2Ev");
void threadDestruct(QThread *t)
{
    ORVEL_NEXT(void (*)(QThread *), "_ZN7QThreadD2Ev");
    awaitExit(t, true);
    real(t);
}

void threadDestructDeleting(QThread *t) asm("_ZN7QThreadD0Ev");
void threadDestructDeleting(QThread *t)
{
    ORVEL_NEXT(void (*)(QThread *), "_ZN7QThreadD0Ev");
    awaitExit(t, true);
    real(t);
}

bool threadWait(QThread *t, QDeadlineTimer d) asm("_ZN7QThread4waitE14QDeadlineTimer");
bool threadWait(QThread *t, QDeadlineTimer d)
{
    ORVEL_NEXT(bool (*)(QThread *, QDeadlineTimer), "_ZN7QThread4waitE14QDeadlineTimer");
    const bool done = real(t, d);
    if (done)
        awaitExit(t, false);
    __tsan_acquire(&eventToken);
    return done;
}

bool threadWaitMs(QThread *t, unsigned long ms) asm("_ZN7QThread4waitEm");
bool threadWaitMs(QThread *t, unsigned long ms)
{
    ORVEL_NEXT(bool (*)(QThread *, unsigned long), "_ZN7QThread4waitEm");
    const bool done = real(t, ms);
    if (done)
        awaitExit(t, false);
    __tsan_acquire(&eventToken);
    return done;
}

bool threadIsFinished(const QThread *t) asm("_ZNK7QThread10isFinishedEv");
bool threadIsFinished(const QThread *t)
{
    ORVEL_NEXT(bool (*)(const QThread *), "_ZNK7QThread10isFinishedEv");
    const bool finished = real(t);
    if (finished)
        awaitExit(t, false);
    return finished;
}

bool threadIsRunning(const QThread *t) asm("_ZNK7QThread9isRunningEv");
bool threadIsRunning(const QThread *t)
{
    ORVEL_NEXT(bool (*)(const QThread *), "_ZNK7QThread9isRunningEv");
    const bool running = real(t);
    if (!running)
        awaitExit(t, false);
    return running;
}

void threadQuit(QThread *t) asm("_ZN7QThread4quitEv");
void threadQuit(QThread *t)
{
    ORVEL_NEXT(void (*)(QThread *), "_ZN7QThread4quitEv");
    __tsan_release(&eventToken);
    real(t);
}

void threadExit(QThread *t, int code) asm("_ZN7QThread4exitEi");
void threadExit(QThread *t, int code)
{
    ORVEL_NEXT(void (*)(QThread *, int), "_ZN7QThread4exitEi");
    __tsan_release(&eventToken);
    real(t, code);
}

// --- the thread pool -------------------------------------------------------

namespace {
// Runs a pooled task between an acquire and a release, so the task sees what
// was done before it was started and whoever waits for it sees what it did.
class TrackedRunnable : public QRunnable
{
public:
    explicit TrackedRunnable(QRunnable *inner) : m_inner(inner), m_deleteInner(inner->autoDelete())
    {
        setAutoDelete(true);
    }
    void run() override
    {
        __tsan_acquire(&eventToken);
        m_inner->run();
        __tsan_release(&eventToken);
        if (m_deleteInner)
            delete m_inner;
    }

private:
    QRunnable *m_inner;
    bool m_deleteInner;
};
} // namespace

class QThreadPool;

void poolStart(QThreadPool *pool, QRunnable *runnable, int priority) asm("_ZN11QThreadPool5startEP9QRunnablei");
void poolStart(QThreadPool *pool, QRunnable *runnable, int priority)
{
    ORVEL_NEXT(void (*)(QThreadPool *, QRunnable *, int), "_ZN11QThreadPool5startEP9QRunnablei");
    QRunnable *tracked = runnable ? new TrackedRunnable(runnable) : nullptr;
    __tsan_release(&eventToken);
    real(pool, tracked, priority);
}

bool poolTryStart(QThreadPool *pool, QRunnable *runnable) asm("_ZN11QThreadPool8tryStartEP9QRunnable");
bool poolTryStart(QThreadPool *pool, QRunnable *runnable)
{
    ORVEL_NEXT(bool (*)(QThreadPool *, QRunnable *), "_ZN11QThreadPool8tryStartEP9QRunnable");
    auto *tracked = runnable ? new TrackedRunnable(runnable) : nullptr;
    __tsan_release(&eventToken);
    const bool started = real(pool, tracked);
    if (!started)
        delete tracked; // the caller keeps its runnable
    return started;
}

bool poolWaitForDone(QThreadPool *pool, int ms) asm("_ZN11QThreadPool11waitForDoneEi");
bool poolWaitForDone(QThreadPool *pool, int ms)
{
    ORVEL_NEXT(bool (*)(QThreadPool *, int), "_ZN11QThreadPool11waitForDoneEi");
    const bool done = real(pool, ms);
    __tsan_acquire(&eventToken);
    return done;
}

class QFutureInterfaceBase;

void futureWaitForFinished(QFutureInterfaceBase *f) asm("_ZN21QFutureInterfaceBase15waitForFinishedEv");
void futureWaitForFinished(QFutureInterfaceBase *f)
{
    ORVEL_NEXT(void (*)(QFutureInterfaceBase *), "_ZN21QFutureInterfaceBase15waitForFinishedEv");
    real(f);
    __tsan_acquire(&eventToken);
}

// --- the event queue -------------------------------------------------------

void activate(QObject *o, const QMetaObject *m, int i, void **a) asm("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
void activate(QObject *o, const QMetaObject *m, int i, void **a)
{
    ORVEL_NEXT(void (*)(QObject *, const QMetaObject *, int, void **),
               "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(&eventToken);
    real(o, m, i, a);
}

void activateIndex(QObject *o, int i, void **a) asm("_ZN11QMetaObject8activateEP7QObjectiPPv");
void activateIndex(QObject *o, int i, void **a)
{
    ORVEL_NEXT(void (*)(QObject *, int, void **), "_ZN11QMetaObject8activateEP7QObjectiPPv");
    __tsan_release(&eventToken);
    real(o, i, a);
}

void activateOffset(QObject *o, int offset, int i, void **a) asm("_ZN11QMetaObject8activateEP7QObjectiiPPv");
void activateOffset(QObject *o, int offset, int i, void **a)
{
    ORVEL_NEXT(void (*)(QObject *, int, int, void **), "_ZN11QMetaObject8activateEP7QObjectiiPPv");
    __tsan_release(&eventToken);
    real(o, offset, i, a);
}

bool invokeMethodImpl(QObject *o, QtPrivate::QSlotObjectBase *s, Qt::ConnectionType t, void *r) asm(
    "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
bool invokeMethodImpl(QObject *o, QtPrivate::QSlotObjectBase *s, Qt::ConnectionType t, void *r)
{
    ORVEL_NEXT(bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *),
               "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    QtPrivate::QSlotObjectBase *slot = tracked(s);
    __tsan_release(&eventToken);
    return real(o, slot, t, r);
}

QMetaObject::Connection connectImpl(const QObject *sender, void **signal, const QObject *receiver,
                                    void **slotPtr, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type,
                                    const int *types, const QMetaObject *senderMetaObject) asm(
    "_ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
QMetaObject::Connection connectImpl(const QObject *sender, void **signal, const QObject *receiver,
                                    void **slotPtr, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type,
                                    const int *types, const QMetaObject *senderMetaObject)
{
    ORVEL_NEXT(QMetaObject::Connection(*)(const QObject *, void **, const QObject *, void **,
                                          QtPrivate::QSlotObjectBase *, Qt::ConnectionType, const int *,
                                          const QMetaObject *),
               "_ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
    QtPrivate::QSlotObjectBase *wrapped = tracked(slot);
    __tsan_release(&eventToken);
    return real(sender, signal, receiver, slotPtr, wrapped, type, types, senderMetaObject);
}


bool invokeMethodByName(QObject *o, const char *member, Qt::ConnectionType t, QGenericReturnArgument r,
                        QGenericArgument a0, QGenericArgument a1, QGenericArgument a2, QGenericArgument a3,
                        QGenericArgument a4, QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
                        QGenericArgument a8, QGenericArgument a9) asm(
    "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_");
bool invokeMethodByName(QObject *o, const char *member, Qt::ConnectionType t, QGenericReturnArgument r,
                        QGenericArgument a0, QGenericArgument a1, QGenericArgument a2, QGenericArgument a3,
                        QGenericArgument a4, QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
                        QGenericArgument a8, QGenericArgument a9)
{
    ORVEL_NEXT(bool (*)(QObject *, const char *, Qt::ConnectionType, QGenericReturnArgument, QGenericArgument,
                        QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                        QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument),
               "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_");
    __tsan_release(&eventToken);
    return real(o, member, t, r, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

void postEvent(QObject *o, QEvent *e, int priority) asm("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
void postEvent(QObject *o, QEvent *e, int priority)
{
    ORVEL_NEXT(void (*)(QObject *, QEvent *, int), "_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    __tsan_release(&eventToken);
    real(o, e, priority);
}

void deleteLater(QObject *o) asm("_ZN7QObject11deleteLaterEv");
void deleteLater(QObject *o)
{
    ORVEL_NEXT(void (*)(QObject *), "_ZN7QObject11deleteLaterEv");
    __tsan_release(&eventToken);
    real(o);
}
