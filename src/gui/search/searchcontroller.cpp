#include "gui/search/searchcontroller.h"

#include "core/search/recordsource.h"
#include "gui/search/directories.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace korvana {

namespace {

const QString kPressEnter = QStringLiteral("Нажмите <Enter> или <OK>");

SortField fieldAt(int index) { return static_cast<SortField>(index + 1); }

} // namespace

SearchController::SearchController(MainWindow &window, Directories &directories, QObject *parent)
    : QObject(parent), m_window(window), m_panel(window.searchPanel()), m_directories(directories)
{
    for (int i = 0; i < int(m_panel.fields.size()); ++i)
        connect(m_panel.fields[i], &QLineEdit::textChanged, this, [this, i] { fieldChanged(fieldAt(i)); });
    connect(&window, &MainWindow::controlEntered, this, &SearchController::fieldEntered);
    connect(m_panel.tabs, &QTabBar::currentChanged, this,
            [this](int index) { tabChosen(kindForTab(index + 1)); });
    connect(m_panel.clear, &QPushButton::clicked, this, &SearchController::clearCriteria);
    for (DirectoryView &d : m_directories) {
        const DirectoryKind kind = d.kind;
        connect(d.source, &RecordSource::repositioned, this, [this, kind] { repositioned(kind); });
    }
}

SearchCriteria SearchController::criteria() const
{
    const auto &f = m_panel.fields;
    return {f[0]->text(), f[1]->text(), f[2]->text(), f[3]->text(), f[4]->text()};
}

DirectoryKind SearchController::selectedTab() const
{
    return kindForTab(m_panel.tabs->currentIndex() + 1);
}

void SearchController::runSearch()
{
    ++m_searchCount;
    const DirectoryView &d = m_directories[selectedTab()];
    d.source->setQuery(buildSearchQuery(criteria(), d.kind, m_sortField, m_currentTab));
    if (d.source->refresh() == RecordSource::Outcome::Malformed) {
        showMessage(&m_window,
                    {QStringLiteral("Вы хотели сказать Э?"),
                     QStringLiteral("Проверьте раскладку клавиатуры"), kPressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
        // Mend the field the user is typing in: the apostrophe was meant as Э.
        // Setting the text runs the search again through its change handling.
        QLineEdit *field = m_sortField == SortField::Name     ? m_panel.fields[1]
                           : m_sortField == SortField::Street ? m_panel.fields[2]
                                                               : nullptr;
        if (field) {
            const QString text = field->text();
            const qsizetype at = text.indexOf(u'\'');
            if (at >= 0)
                field->setText(text.left(at) + QStringLiteral("Э"));
        }
    }
    // Other failures pass silently; the grid shows what its source holds.
    d.controls->grid->viewport()->update();
}

void SearchController::fieldChanged(SortField field)
{
    if (field == SortField::House || field == SortField::Flat) {
        if (!passesDigitsCheck(m_panel.fields[int(field) - 1]->text())) {
            showMessage(&m_window,
                        {field == SortField::House ? QStringLiteral("Ввод номера дома, ЦИФРЫ")
                                                   : QStringLiteral("Ввод номера квартиры, ЦИФРЫ"),
                         kPressEnter},
                        MessageIcon::Critical, MessageButtons::Ok);
            return;
        }
    }
    runSearch();
}

void SearchController::fieldEntered(QWidget *control)
{
    const auto &f = m_panel.fields;
    const auto it = std::find(f.begin(), f.end(), control);
    if (it == f.end())
        return;
    m_sortField = fieldAt(int(it - f.begin()));
    runSearch();
}

void SearchController::tick()
{
    const auto &f = m_panel.fields;
    const QString joined = f[0]->text() + f[2]->text() + f[3]->text() + f[4]->text() + f[1]->text();
    bool any = false;
    for (QChar c : joined)
        any = any || c != u' ';
    m_panel.clear->setEnabled(any);
}

void SearchController::clearCriteria()
{
    for (QLineEdit *field : m_panel.fields)
        field->setText(QString());
}

void SearchController::tabChosen(DirectoryKind tab)
{
    if (tab == m_currentTab)
        return;
    for (const DirectoryView &d : m_directories)
        d.controls->nameLabel->setVisible(d.kind == tab);
    for (const DirectoryView &d : m_directories)
        d.controls->gridFrame->setVisible(d.kind == tab);
    for (const DirectoryView &d : m_directories)
        d.controls->navigationFrame->setVisible(d.kind == tab);
    // The count of the directory now in front, from its last search.
    m_panel.count->setText(QStringLiteral("из ")
                           + QString::number(m_directories[tab].source->recordCount()));
    m_currentTab = tab;
    fieldChanged(SortField::Number);
}

void SearchController::repositioned(DirectoryKind kind)
{
    const DirectoryView &d = m_directories[kind];
    RecordSource *rs = d.source;
    rs->setCaption(QString::number(rs->absolutePosition() + 1));
    const QStringList &fields = tableInfo(kind).fields;
    const bool enterprises = kind == DirectoryKind::Enterprises;
    const QString number = rs->fieldValue(fields.at(enterprises ? 1 : 0)).toString();
    const QString name = rs->fieldValue(fields.at(enterprises ? 0 : 1)).toString();
    d.controls->number->setText(number);
    d.controls->name->setText(name);
    m_window.dialPanel().commy->setEditText(number + QStringLiteral(" ") + name);
    m_panel.count->setText(QStringLiteral("из ") + QString::number(rs->recordCount()));
}

} // namespace korvana
