// Workers: a controller runs two workers in threads of their own and stops them.

#include "demos.h"

#include <orvelextlib.h>

#include <QCoreApplication>
#include <QThread>

namespace {
class CountingWorker : public AbstractWorker
{
public:
    explicit CountingWorker(const QString &name) { setObjectName(name); }

protected:
    bool doStart() override
    {
        qInfo("%s started in thread %s", qPrintable(objectName()),
              qPrintable(QThread::currentThread()->objectName()));
        return true;
    }
    bool doStop() override { return true; }
};

class DemoController : public AbstractWorkerController
{
public:
    int running = 0;

protected:
    bool doStart() override
    {
        for (const char *name : {"reader", "writer"})
            addWorkerToThread(new CountingWorker(QString::fromLatin1(name)))->start();
        return true;
    }
    void processStartedWorker() override { ++running; }
};
} // namespace

bool demoWorkers(DemoContext &ctx)
{
    DemoController controller;
    controller.start();
    while (controller.running < 2)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    ctx.out << "   two workers running, each in its own thread" << Qt::endl;
    controller.stop();
    ctx.out << "   stopped politely; every thread object is gone" << Qt::endl;
    return true;
}
