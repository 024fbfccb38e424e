#pragma once

#include <QObject>
#include <QPointer>

#include <array>
#include <optional>

#include "app/shell/ViewContext.h"

class QDialog;
class QWidget;

namespace tessoral {

// Presents the six sheets the store asks for, each as a new window-modal dialog over the main
// window per opening. Dismissing a sheet (Escape, the window's close) resets its store flag; a
// store reset closes it.
class SheetHost : public QObject {
    Q_OBJECT
public:
    enum class Sheet { exportMix, timePitch, autoDuck, effects, matchLoudness, processing };
    static constexpr int kSheetCount = 6;

    SheetHost(ViewContext context, QWidget* window, QObject* parent = nullptr);
    ~SheetHost() override;

    // The open sheet's dialog (the most recently opened one), or none.
    QDialog* topSheet() const;
    QDialog* dialog(Sheet sheet) const;
    // Follows the store: opens what it asks for, closes what it no longer asks for.
    void sync();

Q_SIGNALS:
    void sheetsChanged();

private:
    // The store's wish for a sheet: none (closed) or the identity of the open case.
    std::optional<int> wanted(Sheet sheet) const;
    void reset(Sheet sheet);
    void open(Sheet sheet, int item);
    void close(Sheet sheet);

    ViewContext ctx_;
    QWidget* window_;
    struct Open {
        QPointer<QDialog> dialog;
        int item = 0;
        long long order = 0;
    };
    std::array<Open, kSheetCount> open_{};
    long long counter_ = 0;
    bool syncing_ = false;
};

}  // namespace tessoral
