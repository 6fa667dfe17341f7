#include "gui/search/searchcontroller.h"

#include "core/search/recordsource.h"
#include "gui/window/messages.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTableView>

namespace korvana {

namespace {

const char *const kFieldNames[5] = {"Tent", "Tefio", "Testr", "Tedom", "Tekv"};

// Hidden fields bound to the number and name of each source's current record.
const char *const kBoundNumber[3] = {"Text1", "Text1_p", "Text1_m"};
const char *const kBoundName[3] = {"Text2", "Text2_p", "Text2_m"};

const QString kPressEnter = QStringLiteral("Нажмите <Enter> или <OK>");

template<typename T>
T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QString::fromLatin1(name));
}

} // namespace

SearchController::SearchController(QWidget *window, const std::array<RecordSource *, 3> &sources,
                                   QObject *parent)
    : QObject(parent), m_window(window), m_sources(sources)
{
    for (int i = 0; i < 5; ++i) {
        m_fields[i] = child<QLineEdit>(window, kFieldNames[i]);
        m_fields[i]->installEventFilter(this);
        connect(m_fields[i], &QLineEdit::textChanged, this, [this, i] { fieldChanged(i + 1); });
    }
    m_tabs = child<QTabBar>(window, "TabStrip1");
    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) { tabChosen(index + 1); });
    m_clear = child<QAbstractButton>(window, "Command1");
    connect(m_clear, &QAbstractButton::clicked, this, &SearchController::clearCriteria);
    m_count = child<QLabel>(window, "Label7");
    m_commy = child<QComboBox>(window, "Commy");
    for (int i = 0; i < 3; ++i) {
        m_grids[i] = window->findChild<QTableView *>(QStringLiteral("DBGrid%1").arg(i + 1));
        connect(m_sources[i], &RecordSource::repositioned, this,
                [this, i] { repositioned(m_sources[i]); });
    }
}

SearchCriteria SearchController::criteria() const
{
    return {m_fields[0]->text(), m_fields[1]->text(), m_fields[2]->text(), m_fields[3]->text(),
            m_fields[4]->text()};
}

RecordSource *SearchController::source(int tab) const
{
    return m_sources[tab == 1 ? 0 : tab == 2 ? 1 : 2];
}

void SearchController::runSearch()
{
    ++m_searchCount;
    const int tab = m_tabs->currentIndex() + 1;
    RecordSource *rs = source(tab);
    rs->setQuery(buildSearchQuery(criteria(), tab, m_sortField, m_currentTab));
    if (rs->refresh() == RecordSource::Outcome::Malformed) {
        showMessage(m_window,
                    {QStringLiteral("Вы хотели сказать Э?"),
                     QStringLiteral("Проверьте раскладку клавиатуры"), kPressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
        // Mend the field the user is typing in: the apostrophe was meant as Э.
        // Setting the text runs the search again through its change handling.
        QLineEdit *field = m_sortField == 2 ? m_fields[1] : m_sortField == 3 ? m_fields[2] : nullptr;
        if (field) {
            const QString text = field->text();
            const qsizetype at = text.indexOf(u'\'');
            if (at >= 0)
                field->setText(text.left(at) + QStringLiteral("Э"));
        }
    }
    // Other failures pass silently; the grid shows what its source holds.
    if (QTableView *grid = m_grids[tab == 1 ? 0 : tab == 2 ? 1 : 2])
        grid->viewport()->update();
}

void SearchController::fieldChanged(int field)
{
    if (field == 4 || field == 5) {
        if (!passesDigitsCheck(m_fields[field - 1]->text())) {
            showMessage(m_window,
                        {field == 4 ? QStringLiteral("Ввод номера дома, ЦИФРЫ")
                                    : QStringLiteral("Ввод номера квартиры, ЦИФРЫ"),
                         kPressEnter},
                        MessageIcon::Critical, MessageButtons::Ok);
            return;
        }
    }
    runSearch();
}

bool SearchController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        for (int i = 0; i < 5; ++i) {
            if (watched == m_fields[i]) {
                m_sortField = i + 1;
                runSearch();
                break;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void SearchController::tick()
{
    const QString joined = m_fields[0]->text() + m_fields[2]->text() + m_fields[3]->text()
        + m_fields[4]->text() + m_fields[1]->text();
    bool any = false;
    for (QChar c : joined)
        any = any || c != u' ';
    m_clear->setEnabled(any);
}

void SearchController::clearCriteria()
{
    for (QLineEdit *field : m_fields)
        field->setText(QString());
}

void SearchController::tabChosen(int index)
{
    if (index == m_currentTab)
        return;
    for (const char *group : {"Label2(%1)", "Frame4(%1)", "Frame5(%1)"}) {
        for (int i = 0; i < 3; ++i) {
            if (auto *w = m_window->findChild<QWidget *>(QString::fromLatin1(group).arg(i)))
                w->setVisible(i == index - 1);
        }
    }
    // The count of the directory now in front, from its last search.
    m_count->setText(QStringLiteral("из ") + QString::number(source(index)->recordCount()));
    m_currentTab = index;
    fieldChanged(1);
}

void SearchController::repositioned(RecordSource *rs)
{
    const int i = rs == m_sources[0] ? 0 : rs == m_sources[1] ? 1 : 2;
    const int position = rs->absolutePosition();
    rs->setCaption(QString::number(position + 1));
    const QVariant number = rs->fieldValue(tableInfo(rs->kind()).fields.at(
        rs->kind() == DirectoryKind::Enterprises ? 1 : 0));
    const QVariant name = rs->fieldValue(tableInfo(rs->kind()).fields.at(
        rs->kind() == DirectoryKind::Enterprises ? 0 : 1));
    QLineEdit *numberField = child<QLineEdit>(m_window, kBoundNumber[i]);
    QLineEdit *nameField = child<QLineEdit>(m_window, kBoundName[i]);
    if (numberField && nameField) {
        numberField->setText(number.toString());
        nameField->setText(name.toString());
    }
    m_commy->setEditText(number.toString() + QStringLiteral(" ") + name.toString());
    m_count->setText(QStringLiteral("из ") + QString::number(rs->recordCount()));
}

} // namespace korvana
