#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QToolButton;

namespace korvana {

class RecordSource;

// The navigation bar of a record source: first, previous, the caption,
// next, last. Bound to a record source it moves that source and shows its
// caption; unbound, the buttons do nothing and the bar keeps the caption
// it was given.
class DataControl : public QWidget {
    Q_OBJECT
public:
    explicit DataControl(const QString &caption, QWidget *parent = nullptr);

    // Replaces any earlier binding; a null source unbinds. The bar keeps
    // its own caption until the source has one of its own.
    void setRecordSource(RecordSource *source);
    RecordSource *recordSource() const;

    QString caption() const;
    void setCaption(const QString &caption);

    QToolButton *firstButton() const { return m_first; }
    QToolButton *previousButton() const { return m_previous; }
    QToolButton *nextButton() const { return m_next; }
    QToolButton *lastButton() const { return m_last; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QToolButton *makeButton(const QString &name);
    void updateIcons();
    void place();

    QToolButton *m_first = nullptr;
    QToolButton *m_previous = nullptr;
    QToolButton *m_next = nullptr;
    QToolButton *m_last = nullptr;
    QLabel *m_caption = nullptr;
    QPointer<RecordSource> m_source;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace korvana
