#include "ui/widgets.h"

#include "util/files.h"

#include <QAction>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QMenu>
#include <QFile>
#include <QTextBlock>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

#include <algorithm>

namespace tarsel::ui {

bool SaveTextFile(const QString& path, const std::string& utf8, QString& error)
{
    std::string why;
    if (WriteFileAtomic(QFile::encodeName(path).toStdString(), utf8, why))
        return true;
    error = QString::fromStdString(why);
    return false;
}

// ---- PaddedButton ----

QSize PaddedButton::sizeHint() const
{
    QSize s = QPushButton::sizeHint();
    if (text().size() > 1)
        s.setWidth(std::max(s.width() + 10, 75));
    return s;
}

// ---- RadioGroup ----

RadioGroup::RadioGroup(QWidget* parent)
    : QGroupBox(parent), m_grid(new QGridLayout(this)), m_group(new QButtonGroup(this))
{
    m_grid->setContentsMargins(8, 4, 8, 4);
    m_grid->setHorizontalSpacing(10);
    m_grid->setVerticalSpacing(2);
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) {
        if (id != m_lastIndex) {
            m_lastIndex = id;
            emit itemIndexChanged(id);
        }
        emit itemClicked(id);
    });
}

void RadioGroup::setItems(const QStringList& items)
{
    for (QRadioButton* b : m_buttons) {
        m_group->removeButton(b);
        delete b;
    }
    m_buttons.clear();
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setObjectName(objectName() + QStringLiteral("_item%1").arg(i));
        m_group->addButton(b, i);
        m_buttons.push_back(b);
    }
    layoutButtons();
    if (m_lastIndex != -1) {
        m_lastIndex = -1;
        emit itemIndexChanged(-1);
    }
}

void RadioGroup::setColumns(int columns)
{
    columns = std::max(columns, 1);
    if (columns == m_columns)
        return;
    for (QRadioButton* b : m_buttons)
        m_grid->removeWidget(b);
    for (int c = 0; c < m_grid->columnCount(); ++c)
        m_grid->setColumnStretch(c, 0);
    m_columns = columns;
    layoutButtons();
}

void RadioGroup::layoutButtons()
{
    // Filled column by column: each column holds ceil(n / columns) rows.
    const int n = m_buttons.size();
    const int rows = n == 0 ? 0 : (n + m_columns - 1) / m_columns;
    for (int i = 0; i < n; ++i)
        m_grid->addWidget(m_buttons[i], i % rows, i / rows);
    for (int c = 0; c < m_columns; ++c)
        m_grid->setColumnStretch(c, 1);
}

QStringList RadioGroup::items() const
{
    QStringList out;
    for (QRadioButton* b : m_buttons)
        out << b->text();
    return out;
}

int RadioGroup::itemIndex() const { return m_group->checkedId(); }

QRadioButton* RadioGroup::button(int index) const
{
    return index >= 0 && index < m_buttons.size() ? m_buttons[index] : nullptr;
}

void RadioGroup::setItemIndex(int index)
{
    if (index < 0 || index >= m_buttons.size()) {
        if (QAbstractButton* checked = m_group->checkedButton()) {
            m_group->setExclusive(false);
            checked->setChecked(false);
            m_group->setExclusive(true);
        }
        index = -1;
    } else {
        m_buttons[index]->setChecked(true);
    }
    if (index != m_lastIndex) {
        m_lastIndex = index;
        emit itemIndexChanged(index);
    }
}

// ---- ColorPanel ----

ColorPanel::ColorPanel(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setMinimumSize(40, 20);
}

void ColorPanel::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
    emit colorChanged(color);
}

void ColorPanel::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.fillRect(contentsRect(), m_color);
    if (hasFocus()) {
        p.setPen(QPen(palette().highlight().color(), 1, Qt::DashLine));
        p.drawRect(contentsRect().adjusted(1, 1, -2, -2));
    }
    p.end();
    QFrame::paintEvent(event);
}

void ColorPanel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit clicked();
}

void ColorPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

// ---- SlotImage ----

SlotImage::SlotImage(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::Box);
    setFocusPolicy(Qt::TabFocus);
}

void SlotImage::setPicture(const QImage& picture)
{
    m_picture = picture;
    update();
}

void SlotImage::clearPicture()
{
    m_picture = QImage();
    update();
}

void SlotImage::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (m_picture.isNull())
        return;
    // Proportional: the whole picture fits, centred, enlarged or shrunk.
    const QRect area = contentsRect();
    QSize s = m_picture.size().scaled(area.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), s);
    target.moveCenter(area.center());
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, m_picture);
}

void SlotImage::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void SlotImage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

// ---- LogView ----

LogView::LogView(QWidget* parent)
    : QTextEdit(parent), m_save(new QAction(QStringLiteral("Save…"), this)),
      m_clear(new QAction(QStringLiteral("Clear"), this))
{
    m_save->setObjectName(QStringLiteral("actLogSave"));
    m_clear->setObjectName(QStringLiteral("actLogClear"));
    connect(m_clear, &QAction::triggered, this, &QTextEdit::clear);
}

QMenu* LogView::createLogContextMenu()
{
    QMenu* menu = createStandardContextMenu();
    menu->addSeparator();
    m_save->setEnabled(!document()->isEmpty());
    m_clear->setEnabled(!document()->isEmpty());
    menu->addActions(m_more);
    menu->addAction(m_save);
    menu->addAction(m_clear);
    return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createLogContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QString LogView::logText() const
{
    QString text;
    if (document()->isEmpty())
        return text;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        text += b.text() + QLatin1Char('\n');
    return text;
}

bool LogView::saveToFile(const QString& path, QString& error) const
{
    return SaveTextFile(path, logText().toUtf8().toStdString(), error);
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

void ElidedLabel::setFullText(const QString& text)
{
    m_full = text;
    setToolTip(text);
    setAccessibleDescription(text);
    elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(m_full, Qt::ElideRight, std::max(width(), 1));
    if (shown != text())
        setText(shown);
}

} // namespace tarsel::ui
