#pragma once

#include "AppError.h"

#include <QString>
#include <exception>
#include <utility>

class QWidget;

namespace GuardDetail {
void report(QWidget* parent, const QString& text);
QString unknownFailure();
} // namespace GuardDetail

// Runs one user action; a failure becomes the general error report and the program goes on.
// Returns false when the action failed.
template <class F> bool guard(QWidget* parent, F&& action) noexcept {
    try {
        std::forward<F>(action)();
        return true;
    } catch (const AppError& e) {
        GuardDetail::report(parent, e.text());
    } catch (const std::exception& e) {
        GuardDetail::report(parent, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        GuardDetail::report(parent, GuardDetail::unknownFailure());
    }
    return false;
}

// Wraps a handler without arguments so that it runs through guard(); use with QObject::connect.
// Handlers that need the signal's arguments call guard() themselves.
template <class F> auto guarded(QWidget* parent, F action) {
    return [parent, action = std::move(action)]() mutable { guard(parent, action); };
}
