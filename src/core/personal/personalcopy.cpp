#include "core/personal/personalcopy.h"

#include "core/search/recordsource.h"
#include "core/store/textfold.h"

namespace korvana {

namespace {

const QString kBlank = QStringLiteral(" ");

// A field's value, or `start` when it is NULL or there is no current record.
QString read(const RecordSource &source, const QString &field, const QString &start)
{
    const QVariant v = source.fieldValue(field);
    return v.isNull() ? start : v.toString();
}

} // namespace

PersonalCopy::Plan PersonalCopy::plan(const RecordSource &source)
{
    Plan p;
    const bool current = source.absolutePosition() >= 0;
    const QString number = read(source, QStringLiteral("N_tel"), kBlank);
    const QString street = read(source, QStringLiteral("Street"), kBlank);
    const QString dom = read(source, QStringLiteral("Dom"), kBlank);
    const QString dom1 = read(source, QStringLiteral("Dom1"), kBlank);
    const QString kvart = read(source, QStringLiteral("Kvart"), kBlank);
    const QString kvart1 = read(source, QStringLiteral("Kvart1"), kBlank);

    if (source.kind() == DirectoryKind::Enterprises) {
        const QString name = read(source, QStringLiteral("Predpr"), kBlank);
        const QString remark = read(source, QStringLiteral("Prim"), QString());
        p.values = {number, trimBlanks(name) + QStringLiteral(", ") + trimBlanks(remark),
                    street, dom, dom1, kvart, kvart1};
        p.prompt = QStringLiteral("Вставить  <") + number + QStringLiteral("  ") + name
            + QStringLiteral(">  в МОЙ справочник?");
    } else {
        const QString family = read(source, QStringLiteral("Family"), kBlank);
        p.values = {number, family, street, dom, dom1, kvart, kvart1};
        // The question shows the record as it is: a NULL adds nothing, and
        // without a current record there is no question text at all.
        if (current)
            p.prompt = QStringLiteral("Вставить  <") + read(source, QStringLiteral("N_tel"), QString())
                + QStringLiteral("  ") + read(source, QStringLiteral("Family"), QString())
                + QStringLiteral(">  в МОЙ справочник?");
    }
    return p;
}

PersonalCopy::Result PersonalCopy::copy(RecordSource &source, RecordSource &personal,
                                        const std::function<bool(const QString &)> &ask)
{
    const Plan p = plan(source);
    if (!ask(p.prompt))
        return Result::Declined;
    personal.addNew();
    const QStringList &fields = tableInfo(DirectoryKind::Personal).fields;
    for (int i = 0; i < fields.size(); ++i)
        personal.setField(fields.at(i), p.values.at(i));
    const bool stored = personal.update();
    source.moveNext();
    source.movePrevious();
    return stored ? Result::Stored : Result::Refused;
}

} // namespace korvana
