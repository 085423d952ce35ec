#pragma once

#include "PictureLoader.h"

#include <QList>
#include <QObject>
#include <QThreadPool>

#include <atomic>

// One picture to decode: `key` comes back with the result (a slide's index or id).
struct PictureJob {
    int key = 0;
    QByteArray bytes;
    QString ext;
    QSize target; // device pixels, as for PictureLoader::load
};

// Decodes batches of pictures on worker threads so that the window never waits. Lives on the
// GUI thread and emits pictureReady there, once per job, in the order the pictures are done.
// Starting a new batch or cancelling abandons the running one: its queued jobs are dropped,
// running ones are told to stop, and nothing of it is delivered afterwards.
class PictureService : public QObject {
    Q_OBJECT
public:
    explicit PictureService(QObject* parent = nullptr);
    ~PictureService() override;

    // Abandons the running batch and starts this one; returns its number (also given to
    // batchFinished). An empty batch finishes at once, without a signal.
    quint64 start(const QList<PictureJob>& jobs);
    void cancel();

    quint64 currentBatch() const { return m_batch; }
    // Jobs of the current batch not delivered yet.
    int pending() const { return m_pending; }

    void setLimits(const PictureLimits& limits) { m_limits = limits; }
    PictureLimits limits() const { return m_limits; }
    // Worker threads; by default one per core.
    void setMaxThreads(int count);
    int maxThreads() const;

    // Runs the event loop until the current batch is delivered or `timeoutMs` passes (for
    // reports and tests; windows react to the signals instead). True when all was delivered.
    bool waitForBatch(int timeoutMs);

Q_SIGNALS:
    void pictureReady(int key, const PictureResult& result);
    void batchFinished(quint64 batch);

private:
    void deliver(quint64 batch, int key, const PictureResult& result);

    QThreadPool m_pool;
    std::atomic<quint64> m_running{0}; // the batch whose jobs may still work
    quint64 m_batch = 0;
    int m_pending = 0;
    PictureLimits m_limits;
};
