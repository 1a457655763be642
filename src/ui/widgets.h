// Small widgets of the main window: the radio group with numbered items, the
// colour panel, and the picture slot's image control.
#pragma once

#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QStringList>
#include <QVector>

#include <QPushButton>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

namespace tarsel::ui {

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
class RadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex NOTIFY itemIndexChanged)

public:
    explicit RadioGroup(const QString& objectName, int columns = 1, QWidget* parent = nullptr);

    // Replaces the items; the selection becomes -1.
    void setItems(const QStringList& items);
    QStringList items() const;
    int count() const { return m_buttons.size(); }
    int columns() const { return m_columns; }

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

    int m_columns;
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
    explicit ColorPanel(const QString& objectName, QWidget* parent = nullptr);

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
// into a fixed size and reports clicks.
class SlotImage : public QFrame {
    Q_OBJECT

public:
    SlotImage(const QString& objectName, int slot, QSize size, QWidget* parent = nullptr);

    int slot() const { return m_slot; }
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
    int m_slot;
    QImage m_picture;
};

} // namespace tarsel::ui
