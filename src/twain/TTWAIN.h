#pragma once

#include "AppError.h"
#include "TwainTypes.h"

#include <QLibrary>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QImage;
class QWidget;

// The scanner component's failures; the text is shown by the general error report.
class ETwainError : public AppError {
public:
    using AppError::AppError;
};

// A call made out of order (manager not open, source not open, no entry point).
class EAssertionFailed : public AppError {
public:
    using AppError::AppError;
};

// Drives one image acquisition from a scanner through a TWAIN Data Source Manager library loaded
// at run time: opens the manager and its source, enables the source (which shows its own dialog),
// watches the application's events for the source's notifications, fetches the image by native
// transfer into the host's picture, closes the source again and raises OnScanReady.
class TTWAIN : public QObject {
    Q_OBJECT
public:
    enum TImageType : TW_UINT16 {
        ffTIFF,
        ffPICT,
        ffBMP,
        ffXBM,
        ffJFIF,
        ffFPX,
        ffTIFFMULTI,
        ffPNG,
        ffSPIFF,
        ffEXIF,
        ffUNKNOWN
    };
    Q_ENUM(TImageType)
    enum TTransferType : std::uint8_t { xfNative, xfMemory, xfFile };
    Q_ENUM(TTransferType)
    enum TLanguageType : std::uint8_t {
        lgDutch,
        lgEnglish,
        lgFrench,
        lgGerman,
        lgAmerican,
        lgItalian,
        lgSpanish,
        lgNorwegian,
        lgFinnish,
        lgDanish,
        lgRussian,
        lgPortuguese,
        lgSwedish,
        lgPolish,
        lgGreek,
        lgTurkish
    };
    Q_ENUM(TLanguageType)
    enum TCountryType : std::uint8_t {
        ctNetherlands,
        ctEngland,
        ctFrance,
        ctGermany,
        ctUSA,
        ctSpain,
        ctItaly,
        ctDenmark,
        ctFinland,
        ctNorway,
        ctRussia,
        ctPortugal,
        ctSweden,
        ctPoland,
        ctGreece,
        ctTurkey
    };
    Q_ENUM(TCountryType)

    Q_PROPERTY(TTransferType Destination READ destination WRITE setDestination)
    Q_PROPERTY(bool TwainDriverFound READ twainDriverFound)
    Q_PROPERTY(QString Productname READ productname WRITE setProductname)
    Q_PROPERTY(QString Manufacturer READ manufacturer WRITE setManufacturer)
    Q_PROPERTY(QString ProductFamily READ productFamily WRITE setProductFamily)
    Q_PROPERTY(TLanguageType Language READ language WRITE setLanguage)
    Q_PROPERTY(TCountryType Country READ country WRITE setCountry)
    Q_PROPERTY(bool ShowUI READ showUI WRITE setShowUI)
    Q_PROPERTY(Qt::CursorShape Cursor READ cursor WRITE setCursor)
    Q_PROPERTY(TImageType FileFormat READ fileFormat WRITE setFileFormat)
    Q_PROPERTY(QString Filename READ filename WRITE setFilename)
    Q_PROPERTY(QString VersionInfo READ versionInfo WRITE setVersionInfo)
    Q_PROPERTY(quint16 VersionMajor READ versionMajor WRITE setVersionMajor)
    Q_PROPERTY(quint16 VersionMinor READ versionMinor WRITE setVersionMinor)

    // The manager library's file name; it is installed beside the executable.
    static constexpr auto ManagerLibraryName = u"libtenemark-twaindsm.so";

    using ScanReadyHandler = std::function<void(TTWAIN* sender)>;

    explicit TTWAIN(QObject* owner = nullptr);
    ~TTWAIN() override;

    void Initialize();
    void OpenDataSourceManager();
    void CloseDataSourceManager();
    void OpenDataSource();
    void CloseDataSource();
    void EnableDataSource();
    void DisableDataSource();
    bool IsDataSourceOpen() const { return SourceOpen; }
    bool IsDataSourceEnabled() const { return SourceEnabled; }
    bool IsDataSourceManagerOpen() const { return ManagerOpen; }
    // Starts one acquisition and returns at once; the picture arrives later in `bitmap`, which must
    // outlive the acquisition. OnScanReady follows a transfer and also a close without one.
    void Acquire(QImage* bitmap);

    // Whether the acquisition that raised the last OnScanReady put a new picture into the bitmap
    // (false when the source's dialog was closed or cancelled without a transfer).
    bool imageTransferred() const { return m_imageTransferred; }

    void setOnScanReady(ScanReadyHandler handler) { OnScanReady = std::move(handler); }

    // The manager library to load; by default ManagerLibraryName beside the executable.
    QString managerLibrary() const;
    void setManagerLibrary(const QString& path);
    bool isManagerLoaded() const { return m_library.isLoaded(); }

    TTransferType destination() const { return Destination; }
    void setDestination(TTransferType value) { Destination = value; }
    bool twainDriverFound() const;
    QString productname() const;
    void setProductname(const QString& text);
    QString manufacturer() const;
    void setManufacturer(const QString& text);
    QString productFamily() const;
    void setProductFamily(const QString& text);
    TLanguageType language() const;
    void setLanguage(TLanguageType value);
    TCountryType country() const;
    void setCountry(TCountryType value);
    bool showUI() const { return ShowUI; }
    void setShowUI(bool value) { ShowUI = value; }
    Qt::CursorShape cursor() const;
    void setCursor(Qt::CursorShape shape);
    TImageType fileFormat() const;
    void setFileFormat(TImageType value);
    QString filename() const;
    void setFilename(const QString& text);
    QString versionInfo() const;
    void setVersionInfo(const QString& text);
    quint16 versionMajor() const { return AppIdentity.Version.MajorNum; }
    void setVersionMajor(quint16 value) { AppIdentity.Version.MajorNum = value; }
    quint16 versionMinor() const { return AppIdentity.Version.MinorNum; }
    void setVersionMinor(quint16 value) { AppIdentity.Version.MinorNum = value; }

    const TW_IDENTITY& appIdentity() const { return AppIdentity; }
    const TW_IDENTITY& sourceIdentity() const { return SourceIdentity; }

    static QString ConditionText(TW_UINT16 code);
    static int DibColorCount(const void* header);
    static TW_UINT16 languageCode(TLanguageType value);
    static TW_UINT16 countryCode(TCountryType value);
    // Interval of the poll event that fetches the source's notifications while a source is open.
    static constexpr int PollIntervalMs = 15;

protected:
    virtual void AppMessageHook(QEvent* message, bool& handled);
    virtual void DoScanReady();
    bool eventFilter(QObject* watched, QEvent* event) override;

    TW_UINT16 CallManager(TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                          TW_MEMREF data);
    TW_UINT16 CallSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    void CheckManagerResult(TW_UINT16 code, const QString& module);
    void CheckSourceResult(TW_UINT16 code, const QString& module);
    bool LoadSourceManager();
    void UnloadSourceManager();
    void SetTransferMechanism();
    bool ProcessMessage(QEvent* message);
    bool TransferNative();

    QImage* TargetBitmap = nullptr;
    TW_IDENTITY AppIdentity{};
    TW_IDENTITY SourceIdentity{};
    TW_UINT32 ParentWindow = 0;
    TTransferType Destination = xfNative;
    bool ManagerOpen = false;
    bool SourceOpen = false;
    bool SourceEnabled = false;
    ScanReadyHandler OnScanReady;
    bool ShowUI = true;
    char m_fileName[256]{};
    TW_UINT16 m_fileFormat = ffBMP;
    TW_UINT32 m_fileFormatCode = ffBMP;

private:
    [[noreturn]] void raiseStatus(TW_IDENTITY* destination, const QString& module);
    void setSourceOpen(bool open);
    void queueCompletion(TW_UINT16 message);
    void completeAcquisition(TW_UINT16 message);
    void abandonAcquisition() noexcept;
    QWidget* hostWidget() const;

    QLibrary m_library;
    QString m_libraryPath;
    QTimer m_pollTimer;
    bool m_hookInstalled = false;
    bool m_completionQueued = false;
    bool m_imageTransferred = false;
};
