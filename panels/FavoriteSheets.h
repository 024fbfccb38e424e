#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

#include "model/EffectSlot.h"
#include "model/FavoritesStore.h"
#include "store/EffectsSheet.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace tessoral {

class StudioStore;
class TransportSignals;

// Saves the selected clip's rack as a new favourite under a name (400 wide).
class SaveFavoriteSheet : public QWidget {
    Q_OBJECT
public:
    explicit SaveFavoriteSheet(StudioStore& store, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return name_; }
    QLabel* summaryLabel() const { return summary_; }
    QLabel* emptyLabel() const { return empty_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void save();

    StudioStore& store_;
    QLineEdit* name_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* empty_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// One favourite of the manager: its name to rename, its chain, replace, append and delete.
class FavoriteRow : public QWidget {
    Q_OBJECT
public:
    FavoriteRow(StudioStore& store, TransportSignals* transport, const EffectFavorite& favorite,
                QWidget* parent = nullptr);

    // The favourite as the list now holds it: the field follows a changed stored name.
    void setFavorite(const EffectFavorite& favorite);
    const EffectFavorite& favorite() const { return favorite_; }

    QLineEdit* nameField() const { return name_; }
    QLabel* summaryLabel() const { return summary_; }
    QPushButton* replaceButton() const { return replace_; }
    QPushButton* appendButton() const { return append_; }
    QWidget* deleteButton() const { return delete_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    StudioStore& store_;
    EffectFavorite favorite_;
    QLineEdit* name_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* replace_ = nullptr;
    QPushButton* append_ = nullptr;
    QWidget* delete_ = nullptr;
};

// Every favourite, one row each, and the way to save the current chain (540 wide).
class FavoritesManagerSheet : public QWidget {
    Q_OBJECT
public:
    FavoritesManagerSheet(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    std::vector<FavoriteRow*> rows() const;
    QLabel* emptyLabel() const { return empty_; }
    QPushButton* saveCurrentButton() const { return saveCurrent_; }
    QPushButton* doneButton() const { return done_; }

private:
    void refresh();

    StudioStore& store_;
    TransportSignals* transport_;
    QLabel* empty_ = nullptr;
    QWidget* list_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    std::vector<std::pair<Uuid, FavoriteRow*>> rows_;
    QPushButton* saveCurrent_ = nullptr;
    QPushButton* done_ = nullptr;
};

// The content of the main window's one effects sheet: the sheet of the store's `effectsSheet`
// case, swapped in place when the case changes (the dialog stays).
class EffectsSheetView : public QWidget {
    Q_OBJECT
public:
    EffectsSheetView(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);

    std::optional<EffectsSheet> shown() const { return shown_; }
    QWidget* child() const { return child_; }

private:
    void follow();

    StudioStore& store_;
    TransportSignals* transport_;
    std::optional<EffectsSheet> shown_;
    QPointer<QWidget> child_;
};

}  // namespace tessoral
