#pragma once

#include "SaneWorker.h"
#include "TwainTypes.h"

#include <QObject>
#include <QPointer>
#include <deque>

namespace TwainSane {

class SourceDialog;

// The one TWAIN source of the manager: scanners reached through SANE. Lives on the
// application's thread; SANE itself runs on the worker's thread.
class SaneSource : public QObject {
public:
    explicit SaneSource(TW_UINT32 id);
    ~SaneSource() override; // closes the dialog, stops the worker (sane_exit)

    static void describe(TW_IDENTITY& identity);
    TW_UINT32 id() const { return m_id; }
    int state() const { return m_state; }
    TW_UINT16 condition() const { return m_condition; }

    // One triplet addressed to the source.
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

private:
    TW_UINT16 fail(TW_UINT16 condition);
    TW_UINT16 succeed(TW_UINT16 code = TWRC_SUCCESS);
    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap);
    TW_UINT16 enable(const TW_USERINTERFACE* ui);
    TW_UINT16 disable();
    TW_UINT16 processEvent(TW_EVENT* event);
    TW_UINT16 nativeTransfer(TW_HANDLE* handle);
    TW_UINT16 pendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending);

    void startScan(const Settings& settings);
    void startUnattendedScan();
    void scanFinished(const Result& result);
    void backToEnabled();
    void queueMessage(TW_UINT16 message);

    TW_UINT32 m_id;
    int m_state = 4;
    TW_UINT16 m_condition = TWCC_SUCCESS;
    bool m_showUI = true;
    Worker m_worker;
    QPointer<SourceDialog> m_dialog;
    std::deque<TW_UINT16> m_messages;
    bool m_scanning = false;
    Settings m_settings;
    // The page waiting for the transfer, or the condition of the scan that failed.
    PackedDib m_page;
    TW_UINT16 m_pageCondition = TWCC_SUCCESS;
    bool m_morePages = false;
};

} // namespace TwainSane
