#include "TTWAIN.h"

#include "AppPaths.h"
#include "DibImage.h"
#include "Guard.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QWidget>

#include <array>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The manager's entry point, one for the whole program.
DSMENTRYPROC g_entry = nullptr;

constexpr std::array<TW_UINT16, 16> LanguageCodes = {1, 2, 5, 6, 13, 8, 11, 9, 4, 0, 78, 10, 12, 75, 63, 85};
constexpr std::array<TW_UINT16, 16> CountryCodes = {31,  6,  33, 49,  1,  34, 39, 45,
                                                    358, 47, 7,  351, 46, 48, 30, 90};

QString hex4(unsigned code) {
    return QString::number(code, 16).toUpper().rightJustified(4, u'0');
}

// Identity texts are single-byte characters, at most 32 of them.
void storeText(TW_STR32& field, const QString& text) {
    std::memset(field.text, 0, sizeof field.text);
    const QByteArray bytes = text.left(32).toLatin1();
    std::memcpy(field.text, bytes.constData(), std::size_t(bytes.size()));
}

QString readText(const char* field, std::size_t size) {
    return QString::fromLatin1(field, qsizetype(strnlen(field, size)));
}

struct FreeBlock {
    void operator()(void* block) const noexcept { std::free(block); }
};

} // namespace

TTWAIN::TTWAIN(QObject* owner) : QObject(owner) {
    setObjectName(u"TWAIN1"_s);
    setProductname(u"Tenemark scanning"_s);
    setManufacturer(u"Tenemark"_s);
    setProductFamily(u"Tenemark components"_s);
    setLanguage(lgAmerican);
    setCountry(ctUSA);
    setFileFormat(ffBMP);
    setFilename(u"C:\\TWAIN.BMP"_s);
    setVersionInfo(u"Twain component"_s);
    setVersionMajor(1);
    setVersionMinor(0);
    m_pollTimer.setInterval(PollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this,
            [this] { QCoreApplication::postEvent(this, new QEvent(QEvent::Type(TwainPollEventType))); });
}

TTWAIN::~TTWAIN() {
    // A destructor cannot report; each step runs even when the one before failed.
    try {
        if (SourceEnabled)
            DisableDataSource();
    } catch (const AppError&) {
    }
    try {
        if (SourceOpen)
            CloseDataSource();
    } catch (const AppError&) {
    }
    try {
        if (ManagerOpen)
            CloseDataSourceManager();
    } catch (const AppError&) {
    }
    UnloadSourceManager();
    if (m_hookInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

QString TTWAIN::managerLibrary() const {
    return m_libraryPath.isEmpty() ? AppPaths::runtimeFile(QString::fromUtf16(ManagerLibraryName))
                                   : m_libraryPath;
}

void TTWAIN::setManagerLibrary(const QString& path) {
    m_libraryPath = path;
}

// ---- properties ----

bool TTWAIN::twainDriverFound() const {
    return QFileInfo(managerLibrary()).isFile();
}

QString TTWAIN::productname() const {
    return readText(AppIdentity.ProductName.text, sizeof AppIdentity.ProductName.text);
}
void TTWAIN::setProductname(const QString& text) {
    storeText(AppIdentity.ProductName, text);
}
QString TTWAIN::manufacturer() const {
    return readText(AppIdentity.Manufacturer.text, sizeof AppIdentity.Manufacturer.text);
}
void TTWAIN::setManufacturer(const QString& text) {
    storeText(AppIdentity.Manufacturer, text);
}
QString TTWAIN::productFamily() const {
    return readText(AppIdentity.ProductFamily.text, sizeof AppIdentity.ProductFamily.text);
}
void TTWAIN::setProductFamily(const QString& text) {
    storeText(AppIdentity.ProductFamily, text);
}
QString TTWAIN::versionInfo() const {
    return readText(AppIdentity.Version.Info.text, sizeof AppIdentity.Version.Info.text);
}
void TTWAIN::setVersionInfo(const QString& text) {
    storeText(AppIdentity.Version.Info, text);
}

TW_UINT16 TTWAIN::languageCode(TLanguageType value) {
    return LanguageCodes[std::size_t(value)];
}
TW_UINT16 TTWAIN::countryCode(TCountryType value) {
    return CountryCodes[std::size_t(value)];
}

TTWAIN::TLanguageType TTWAIN::language() const {
    for (std::size_t i = 0; i < LanguageCodes.size(); ++i)
        if (LanguageCodes[i] == AppIdentity.Version.Language)
            return TLanguageType(i);
    return lgDutch;
}
void TTWAIN::setLanguage(TLanguageType value) {
    AppIdentity.Version.Language = languageCode(value);
}
TTWAIN::TCountryType TTWAIN::country() const {
    for (std::size_t i = 0; i < CountryCodes.size(); ++i)
        if (CountryCodes[i] == AppIdentity.Version.Country)
            return TCountryType(i);
    return ctNetherlands;
}
void TTWAIN::setCountry(TCountryType value) {
    AppIdentity.Version.Country = countryCode(value);
}

Qt::CursorShape TTWAIN::cursor() const {
    const QCursor* current = QGuiApplication::overrideCursor();
    return current ? current->shape() : Qt::ArrowCursor;
}
void TTWAIN::setCursor(Qt::CursorShape shape) {
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    if (shape != Qt::ArrowCursor)
        QGuiApplication::setOverrideCursor(QCursor(shape));
}

TTWAIN::TImageType TTWAIN::fileFormat() const {
    return m_fileFormat <= ffEXIF ? TImageType(m_fileFormat) : ffUNKNOWN;
}
void TTWAIN::setFileFormat(TImageType value) {
    const TW_UINT16 code = value == ffUNKNOWN ? TW_UINT16(ffBMP) : TW_UINT16(value);
    m_fileFormat = code;
    m_fileFormatCode = code;
}

QString TTWAIN::filename() const {
    return QString::fromUtf8(m_fileName, qsizetype(strnlen(m_fileName, sizeof m_fileName)));
}
void TTWAIN::setFilename(const QString& text) {
    std::memset(m_fileName, 0, sizeof m_fileName);
    QString kept = text.left(255);
    QByteArray bytes = kept.toUtf8();
    while (bytes.size() > 255) { // characters beyond one byte: drop whole characters
        kept.chop(1);
        bytes = kept.toUtf8();
    }
    std::memcpy(m_fileName, bytes.constData(), std::size_t(bytes.size()));
}

// ---- manager calls and result checks ----

TW_UINT16 TTWAIN::CallManager(TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                              TW_MEMREF data) {
    if (!g_entry)
        throw EAssertionFailed(u"Assertion failure"_s);
    return g_entry(&AppIdentity, destination, dg, dat, msg, data);
}

TW_UINT16 TTWAIN::CallSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (!g_entry)
        throw EAssertionFailed(u"Assertion failure"_s);
    return g_entry(&AppIdentity, &SourceIdentity, dg, dat, msg, data);
}

void TTWAIN::raiseStatus(TW_IDENTITY* destination, const QString& module) {
    TW_STATUS status{};
    if (CallManager(destination, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
        throw ETwainError(u"Unable to get the status"_s);
    throw ETwainError(
        u"Data Source Manager error in module %1:\r\n%2"_s.arg(module, ConditionText(status.ConditionCode)));
}

void TTWAIN::CheckManagerResult(TW_UINT16 code, const QString& module) {
    if (code == TWRC_SUCCESS)
        return;
    if (code == TWRC_FAILURE)
        raiseStatus(nullptr, module);
    throw ETwainError(
        u"A call to the Data Source Manager failed in module %1: Code %2"_s.arg(module, hex4(code)));
}

void TTWAIN::CheckSourceResult(TW_UINT16 code, const QString& module) {
    if (code == TWRC_SUCCESS)
        return;
    if (code == TWRC_FAILURE)
        raiseStatus(&SourceIdentity, module);
    throw ETwainError(
        u"A call to the Data Source Manager failed in module %1: Code %2"_s.arg(module, hex4(code)));
}

QString TTWAIN::ConditionText(TW_UINT16 code) {
    switch (code) {
    case 0:
        return u"Operation was succesful."_s;
    case 1:
        return u"General failure. Unload Source immediately."_s;
    case 2:
        return u"Not enough memory to complete the operation."_s;
    case 3:
        return u"Data Source Manager was unable to find the specified Data Source."_s;
    case 4:
        return u"Data Source is connected to maximum supported number of \r\napplications."_s;
    case 5:
        return u"Data Source or Data Source Manager reported an error to the\r\nuser and handled the error. "
               u"No "
               u"application action required."_s;
    case 6:
        return u"Capability not supported by source or operation (get,\r\nset) is not supported on "
               u"capability, "
               u"or capability had\r\ndependencies on other capabilities and cannot be\r\noperated upon at "
               u"this "
               u"time"_s;
    case 9:
        return u"Unrecognized operation triplet."_s;
    case 10:
        return u"Data parameter out of supported range."_s;
    case 11:
        return u"Illegal operation for current Data Source Manager\r\nand Data Source state."_s;
    case 12:
        return u"Unknown destination in DSM_Entry."_s;
    case 13:
        return u"Capability not supported by Data Source."_s;
    case 14:
        return u"Operation not supported on capability."_s;
    case 15:
        return u"Capability has dependencies on other capabilities and \r\ncannot be operated upon at this time."_s;
    case 16:
        return u"File System operation is denied (file is protected)."_s;
    case 17:
        return u"Operation failed because file already exists."_s;
    case 18:
        return u"File not found."_s;
    case 19:
        return u"Operation failed because directory is not empty."_s;
    case 20:
    case 21:
        return u"Transfer failed because of a feeder error"_s;
    default:
        return u"Unknown condition %1"_s.arg(hex4(code));
    }
}

int TTWAIN::DibColorCount(const void* header) {
    return DibImage::colorCount(header);
}

// ---- the library ----

bool TTWAIN::LoadSourceManager() {
    if (!m_library.isLoaded()) {
        m_library.setFileName(managerLibrary());
        if (m_library.load())
            g_entry = reinterpret_cast<DSMENTRYPROC>(m_library.resolve("DSM_Entry"));
    }
    return m_library.isLoaded();
}

void TTWAIN::UnloadSourceManager() {
    if (m_library.isLoaded()) {
        g_entry = nullptr;
        m_library.unload();
    }
}

// ---- states ----

void TTWAIN::Initialize() {
    // The application has no hidden main window here; its process id stands for it.
    ParentWindow = TW_UINT32(QCoreApplication::applicationPid());
    AppIdentity.Id = ParentWindow;
    LoadSourceManager();
    if (!m_hookInstalled) {
        QCoreApplication::instance()->installEventFilter(this);
        m_hookInstalled = true;
    }
    OpenDataSourceManager();
}

void TTWAIN::OpenDataSourceManager() {
    if (ManagerOpen)
        return;
    if (AppIdentity.Id == 0)
        throw EAssertionFailed(u"Assertion failure"_s);
    if (!LoadSourceManager())
        throw ETwainError(u"Unable to load or find: %1"_s.arg(QDir::toNativeSeparators(managerLibrary())));
    AppIdentity.ProtocolMajor = 1;
    AppIdentity.ProtocolMinor = 7;
    AppIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    const TW_UINT16 code = CallManager(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &ParentWindow);
    CheckManagerResult(code, u"OpenDataSourceManager"_s);
    ManagerOpen = true;
}

void TTWAIN::CloseDataSourceManager() {
    if (SourceOpen)
        throw ETwainError(u"Unable to close the Data Source Manager. Maybe a source is still in use"_s);
    if (ManagerOpen) {
        const TW_UINT16 code = CallManager(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &ParentWindow);
        CheckManagerResult(code, u"CloseDataSourceManager"_s);
        ManagerOpen = false;
    }
    UnloadSourceManager();
}

void TTWAIN::OpenDataSource() {
    if (!ManagerOpen)
        throw EAssertionFailed(u"Data Source Manager must be open"_s);
    if (SourceOpen)
        return;
    const TW_UINT16 code = CallManager(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &SourceIdentity);
    CheckManagerResult(code, u"OpenDataSource"_s);
    setSourceOpen(true);
}

void TTWAIN::CloseDataSource() {
    if (!ManagerOpen)
        throw EAssertionFailed(u"Data Source Manager must be open"_s);
    if (!SourceOpen)
        return;
    const TW_UINT16 code = CallManager(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &SourceIdentity);
    CheckManagerResult(code, u"CloseDataSource"_s);
    setSourceOpen(false);
}

void TTWAIN::setSourceOpen(bool open) {
    SourceOpen = open;
    if (open)
        m_pollTimer.start();
    else
        m_pollTimer.stop();
}

void TTWAIN::EnableDataSource() {
    if (!SourceOpen)
        throw EAssertionFailed(u"Data Source must be open"_s);
    if (SourceEnabled)
        return;
    TW_USERINTERFACE ui{};
    ui.ShowUI = ShowUI ? 65535 : 0;
    ui.ModalUI = 65535;
    ui.hParent = reinterpret_cast<TW_HANDLE>(quintptr(ParentWindow));
    const TW_UINT16 code = CallManager(&SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    CheckManagerResult(code, u"EnableDataSource"_s);
    SourceEnabled = true;
}

void TTWAIN::DisableDataSource() {
    if (!SourceOpen)
        throw EAssertionFailed(u"Data Source must be open"_s);
    if (!SourceEnabled)
        return;
    TW_USERINTERFACE ui{};
    ui.ShowUI = 65535;
    ui.hParent = reinterpret_cast<TW_HANDLE>(quintptr(ParentWindow));
    const TW_UINT16 code = CallManager(&SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    CheckManagerResult(code, u"DisableDataSource"_s);
    SourceEnabled = false;
}

void TTWAIN::SetTransferMechanism() {
    Destination = xfNative;
    std::unique_ptr<void, FreeBlock> block(std::calloc(1, sizeof(TW_ONEVALUE)));
    if (!block)
        throw EAssertionFailed(u"Assertion failure"_s);
    TW_ONEVALUE value{};
    value.ItemType = TWTY_UINT16;
    value.Item = TWSX_NATIVE;
    std::memcpy(block.get(), &value, sizeof value);
    TW_CAPABILITY capability{};
    capability.Cap = ICAP_XFERMECH;
    capability.ConType = TWON_ONEVALUE;
    capability.hContainer = block.get();
    const TW_UINT16 code = CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    CheckSourceResult(code, u"XferMech"_s);
}

void TTWAIN::Acquire(QImage* bitmap) {
    TargetBitmap = bitmap;
    m_imageTransferred = false;
    OpenDataSourceManager();
    OpenDataSource();
    SetTransferMechanism();
    EnableDataSource();
}

// ---- events ----

bool TTWAIN::eventFilter(QObject* /*watched*/, QEvent* event) {
    bool handled = false;
    AppMessageHook(event, handled);
    return handled;
}

void TTWAIN::AppMessageHook(QEvent* message, bool& handled) {
    // Qt chains application event filters itself: the filters installed before this one still
    // see the event when it is not handled here.
    handled = ProcessMessage(message);
}

bool TTWAIN::ProcessMessage(QEvent* message) {
    if (!ManagerOpen || !SourceOpen)
        return false;
    TW_EVENT event{};
    event.pEvent = message;
    event.TWMessage = MSG_NULL;
    const TW_UINT16 code = CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    switch (event.TWMessage) {
    case MSG_XFERREADY:
    case MSG_CLOSEDSREQ:
    case MSG_CLOSEDSOK:
        queueCompletion(event.TWMessage);
        break;
    default:
        break;
    }
    return code != TWRC_NOTDSEVENT;
}

// The transfer and the closing calls run after the event filter has returned, from the event
// loop, so that no event is held up inside the filter and an error reaches the error report.
void TTWAIN::queueCompletion(TW_UINT16 message) {
    if (m_completionQueued)
        return;
    m_completionQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            guard(hostWidget(), [&] {
                try {
                    completeAcquisition(message);
                } catch (...) {
                    m_completionQueued = false;
                    throw;
                }
                m_completionQueued = false;
            });
        },
        Qt::QueuedConnection);
}

void TTWAIN::completeAcquisition(TW_UINT16 message) {
    try {
        if (message == MSG_XFERREADY) {
            TransferNative();
            TW_PENDINGXFERS pending{};
            CheckSourceResult(CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending),
                              u"Check for Pending Transfers"_s);
            if (pending.Count != 0)
                CheckSourceResult(CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending),
                                  u"Abort Pending Transfers"_s);
        }
        DisableDataSource();
        CloseDataSource();
    } catch (...) {
        abandonAcquisition();
        throw;
    }
    DoScanReady();
}

// After a failed transfer or closing call: ends the transfer, disables and closes the source as
// far as the manager lets it, so the next Acquire starts afresh. The first error is the one
// reported.
void TTWAIN::abandonAcquisition() noexcept {
    if (!g_entry)
        return;
    if (SourceEnabled) {
        TW_PENDINGXFERS pending{};
        CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        pending = {};
        CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    }
    try {
        DisableDataSource();
    } catch (const AppError&) {
    }
    try {
        CloseDataSource();
    } catch (const AppError&) {
    }
}

bool TTWAIN::TransferNative() {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 code = CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (code == TWRC_FAILURE)
        raiseStatus(nullptr, u"Native Transfer"_s);
    if (code != TWRC_XFERDONE)
        return false;
    std::unique_ptr<void, FreeBlock> block(handle);
    if (!block)
        throw ETwainError(u"The Data Source delivered no image"_s);
    QImage image = DibImage::adopt(block.get(), malloc_usable_size(block.get()));
    (void)block.release(); // the image holds it now, or it was freed
    if (TargetBitmap)
        *TargetBitmap = std::move(image);
    m_imageTransferred = true;
    return true;
}

void TTWAIN::DoScanReady() {
    if (OnScanReady)
        OnScanReady(this);
}

QWidget* TTWAIN::hostWidget() const {
    if (auto* owner = qobject_cast<QWidget*>(parent()))
        return owner->window();
    return QApplication::activeWindow();
}
