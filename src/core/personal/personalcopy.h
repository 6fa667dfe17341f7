#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace korvana {

class RecordSource;

// Copying the current entry of a public directory into the personal one.
class PersonalCopy {
public:
    enum class Result { Declined, Stored, Refused };

    // The values a copy would store (N_tel, Family, Street, Dom, Dom1, Kvart,
    // Kvart1) and the question it asks, read from the source's current record.
    struct Plan {
        QStringList values;
        QString prompt;
    };
    static Plan plan(const RecordSource &source);

    // Asks, and on consent appends the entry to `personal`; then moves the
    // source on and back so that its position display shows the copied entry
    // again. `ask` returns true for Yes.
    static Result copy(RecordSource &source, RecordSource &personal,
                       const std::function<bool(const QString &prompt)> &ask);
};

} // namespace korvana
