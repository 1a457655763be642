// Small widgets of the main window: the radio group with numbered items, the
// colour panel, the picture slot's image control, the spin box whose text field
// can be named, and the log view. The forms use them as promoted widgets; what a
// form sets on them goes through their properties.
#pragma once

#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QStringList>
#include <QVector>

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>

#include <string>

class QAction;
class QButtonGroup;
class QMenu;
class QGridLayout;
class QRadioButton;

namespace tarsel::ui {

// Writes `utf8` into the file `path` in one step, as settings files are written:
// through a symbolic link to the file it names, never onto a device, pipe or folder, and a
// failed save leaves an existing file as it was. False with `error` set.
bool SaveTextFile(const QString& path, const std::string& utf8, QString& error);

// A label that shows as much of its text as fits, ending in "…", and the whole text
// as its tooltip and accessible description.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    QString fullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString m_full;
};

// A push button with room around its caption (both languages' captions fit) and
// at least the width of the classic 75-pixel button.
class PaddedButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
};

// A titled frame of radio buttons laid out in columns (filled column by column),
// told apart by their item index. Index -1 means no item is selected.
// A form sets `columns` before `items` and `items` before `itemIndex`.
class RadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(int columns READ columns WRITE setColumns)
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex NOTIFY itemIndexChanged)

public:
    explicit RadioGroup(QWidget* parent = nullptr);

    // Replaces the items; the selection becomes -1.
    void setItems(const QStringList& items);
    QStringList items() const;
    int count() const { return m_buttons.size(); }
    int columns() const { return m_columns; }
    // At least 1; the items are laid out again.
    void setColumns(int columns);

    int itemIndex() const;
    // Selects the item (an index outside the items clears the selection).
    void setItemIndex(int index);
    QRadioButton* button(int index) const;

signals:
    // The user clicked an item.
    void itemClicked(int index);
    // The selection changed, by the user or by code.
    void itemIndexChanged(int index);

private:
    void layoutButtons();

    int m_columns = 1;
    QGridLayout* m_grid;
    QButtonGroup* m_group;
    QVector<QRadioButton*> m_buttons;
    int m_lastIndex = -1;
};

// A coloured panel that the user clicks (or activates with Space/Enter) to pick a
// colour. `color` is the 24-bit colour shown.
class ColorPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit ColorPanel(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

signals:
    void clicked();
    void colorChanged(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QColor m_color{Qt::black};
};

// The image control of a picture slot: shows its picture scaled proportionally
// into its (fixed) size and reports clicks. Its `tag` is the slot number.
class SlotImage : public QFrame {
    Q_OBJECT
    Q_PROPERTY(int tag READ slot WRITE setSlot)

public:
    explicit SlotImage(QWidget* parent = nullptr);

    int slot() const { return m_slot; }
    void setSlot(int slot) { m_slot = slot; }
    void setPicture(const QImage& picture);
    QImage picture() const { return m_picture; }
    bool hasPicture() const { return !m_picture.isNull(); }
    void clearPicture();

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int m_slot = 0;
    QImage m_picture;
};

// A spin box whose text field is reachable, so that the field can carry a name and
// an accessible name of its own.
class SpinBox : public QSpinBox {
    Q_OBJECT

public:
    using QSpinBox::QSpinBox;
    QLineEdit* textField() const { return lineEdit(); }
};

// The download log: read-only rich text whose context menu offers, after the
// standard entries (Copy, Select All), the actions added with addMenuAction, then
// "Save…" and "Clear". Clear empties the view; Save… is handled by whoever connects
// to saveAction().
class LogView : public QTextEdit {
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);

    QAction* saveAction() const { return m_save; }
    QAction* clearAction() const { return m_clear; }
    // Adds an entry to the context menu, before Save… and Clear (the caller keeps it).
    void addMenuAction(QAction* action) { m_more.append(action); }
    // The context menu as it is shown (the caller owns it).
    QMenu* createLogContextMenu();

    // The lines as plain text, one per log line, each ended by a line feed.
    QString logText() const;
    // Writes logText() as UTF-8 into `path`, replacing the file in one step (a
    // failed save leaves an existing file as it was). False with `error` set.
    bool saveToFile(const QString& path, QString& error) const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QAction* m_save;
    QAction* m_clear;
    QList<QAction*> m_more;
};

} // namespace tarsel::ui
