// Helper of tst_killwrite: writes through the program's own code in a loop
// until it is killed, announcing each finished step on stdout so the test
// knows what must have reached the disk.
//   killvictim <folder> <first generation>: the width file ("w N"), a new
//     personal entry ("n N"), an edit of the first one ("e N");
//   killvictim update <folder> <first generation> <even.mdb> <odd.mdb>: new
//     editions into kadu.db, from the two files in turn ("u N").
#include "core/import/mdbimport.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/store/store.h"
#include "killgeneration.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

using namespace korvana;

static void say(const char *what, int generation)
{
    std::printf("%s %d\n", what, generation);
    std::fflush(stdout);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool update = args.size() == 5 && args[0] == QLatin1String("update");
    if (!update && args.size() != 2)
        return 2;
    const QDir folder(args[update]);
    const QString db = folder.filePath(QStringLiteral("kadu.db"));
    int generation = args[update + 1].toInt();
    if (update) {
        for (say("ready", generation);; say("u", generation++)) {
            if (!updateFromAccessFile(args[3 + generation % 2], db).ok)
                return 7;
        }
    }
    auto store = Store::open(db);
    if (!store)
        return 3;
    RecordSource source(DirectoryKind::Personal);
    source.setStore(store.get());
    source.refresh();
    PersonalModel model(&source);
    for (say("ready", generation);; ++generation) {
        if (!writeWidthFile(test::widthsOfGeneration(generation), folder.filePath(kWidthFileName)))
            return 4;
        say("w", generation);
        const int fresh = model.rowCount() - 1;
        model.setData(model.index(fresh, 0), QString::number(generation));
        model.setData(model.index(fresh, 1), test::entryName(generation));
        model.setData(model.index(fresh, 6), test::entryName(generation));
        if (!model.submitPending())
            return 5;
        say("n", generation);
        model.setData(model.index(0, 1), test::editedName(generation));
        model.setData(model.index(0, 2), test::editedName(generation));
        if (!model.submitPending())
            return 6;
        say("e", generation);
    }
}
