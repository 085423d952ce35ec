#include "CatalogueOpener.h"

#include "AppError.h"
#include "Database.h"
#include "Dialogs.h"
#include "IniFile.h"
#include "JetConversion.h"
#include "StoreSettings.h"

#include <QFileInfo>

#include <optional>

using namespace Qt::StringLiterals;

namespace CatalogueOpener {

namespace {

constexpr int PasswordTries = 3;

bool openServer(QWidget* parent, const StoreSettings& settings) {
    const QString prompt = settings.user.isEmpty()
                               ? u"Пароль для сервера %1:"_s.arg(settings.describe())
                               : u"Пароль пользователя %1 для сервера %2:"_s.arg(settings.user, settings.describe());
    // A new connection later (after the server restarted) asks only when the server wants
    // another password than the one given here.
    Database::setPasswordPrompt([parent, prompt](QString& password) {
        return Dialogs::promptSecret(parent, u"Tenemark 1.0"_s, prompt, password);
    });
    if (Database::openServer(settings) == Database::ServerLogin::Opened)
        return true;
    for (int attempt = 1;; ++attempt) {
        QString password;
        if (!Dialogs::promptSecret(parent, u"Tenemark 1.0"_s,
                                   attempt == 1 ? prompt : u"Сервер не принял пароль. "_s + prompt, password))
            return false;
        try {
            if (Database::openServer(settings, password) == Database::ServerLogin::Opened)
                return true;
        } catch (const Database::PasswordRefused&) {
            if (attempt == PasswordTries)
                throw;
            continue;
        }
        if (attempt == PasswordTries)
            throw AppError(u"Не удалось подключиться к серверу базы данных %1: сервер не принял пароль"_s.arg(
                settings.describe()));
    }
}

} // namespace

bool open(QWidget* parent, const QString& settingsPath, const QString& databasePath) {
    std::optional<StoreSettings> settings;
    try {
        settings = StoreSettings::read(IniFile(settingsPath));
        if (settings->isServer())
            return openServer(parent, *settings);
    } catch (const AppError& e) {
        // Told the same way as a missing file; the program ends after it.
        Dialogs::showError(parent, e.text());
        return false;
    }
    if (!QFileInfo::exists(databasePath)) {
        Dialogs::showError(parent, u"Не найден файл базы данных."_s);
        return false;
    }
    if (JetConversion::isJetFile(databasePath) && !JetConversion::offer(parent, databasePath))
        return false;
    Database::open(databasePath);
    return true;
}

} // namespace CatalogueOpener
