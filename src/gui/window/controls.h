#pragma once

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTabBar>
#include <QTableView>

// Small widgets that give the window's controls their classic look.
namespace korvana {

// A tab strip that also draws the panel under its tabs: the grids and
// navigation bars lie over that panel as separate widgets, so switching
// tabs swaps them rather than pages of the strip.
class TabStrip : public QTabBar {
    Q_OBJECT
public:
    explicit TabStrip(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A frame in the classic look: an etched line around, the caption set
// into the top line, and the window's plain colour inside, so that the
// labels it holds match it.
class Frame : public QGroupBox {
    Q_OBJECT
public:
    explicit Frame(const QString &title, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A picture shown at its own size from the top left, inside a sunken
// border. It stays in full colour while disabled: disabling only keeps it
// from taking the focus and the clicks.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The narrow column at the left of a grid with a pointer at the current
// record instead of row numbers, "✎" at a row with unsaved changes and "*"
// at the line for a new entry.
class RecordSelector : public QHeaderView {
    Q_OBJECT
public:
    explicit RecordSelector(QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
    void paintEvent(QPaintEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    QString markOf(int row) const;
    int currentRow() const;
};

// A directory grid: record selector, grid lines, a one-line header whose
// typeface stays when the cells' text size changes.
class DirectoryGrid : public QTableView {
    Q_OBJECT
public:
    DirectoryGrid(bool editable, QWidget *parent = nullptr);

    // Cell text size in points; the headings keep theirs, rows follow the
    // new text height.
    void setCellPointSize(qreal points);
    qreal cellPointSize() const;
};

} // namespace korvana
