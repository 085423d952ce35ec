#include "PictureService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

PictureService::PictureService(QObject* parent) : QObject(parent) {
    qRegisterMetaType<PictureResult>();
    m_pool.setObjectName(QStringLiteral("PictureService"));
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
}

PictureService::~PictureService() {
    cancel();
    m_pool.waitForDone();
}

void PictureService::setMaxThreads(int count) {
    m_pool.setMaxThreadCount(qMax(1, count));
}

int PictureService::maxThreads() const {
    return m_pool.maxThreadCount();
}

void PictureService::cancel() {
    ++m_batch;
    m_running.store(m_batch);
    m_pending = 0;
    m_pool.clear();
}

quint64 PictureService::start(const QList<PictureJob>& jobs) {
    cancel();
    const quint64 batch = m_batch;
    m_pending = int(jobs.size());
    for (const PictureJob& job : jobs) {
        m_pool.start([this, batch, job, limits = m_limits] {
            const auto abandoned = [this, batch] { return m_running.load() != batch; };
            if (abandoned())
                return;
            PictureResult result = PictureLoader::load(job.bytes, job.ext, job.target, limits, abandoned);
            if (abandoned())
                return;
            QMetaObject::invokeMethod(
                this,
                [this, batch, key = job.key, result = std::move(result)] { deliver(batch, key, result); },
                Qt::QueuedConnection);
        });
    }
    return batch;
}

void PictureService::deliver(quint64 batch, int key, const PictureResult& result) {
    if (batch != m_batch || m_pending <= 0)
        return;
    --m_pending;
    Q_EMIT pictureReady(key, result);
    // A slot may have started another batch.
    if (batch == m_batch && m_pending == 0)
        Q_EMIT batchFinished(batch);
}

bool PictureService::waitForBatch(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // so that the wait below notices the deadline
    wake.start(20);
    while (m_pending > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_pending == 0;
}
