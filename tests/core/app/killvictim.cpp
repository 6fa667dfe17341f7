// Helper of tst_killwrite: writes the width file and the personal directory
// in a loop, through the program's own code, until it is killed. Each
// finished step is announced on stdout ("w N", "n N", "e N") so the test
// knows what must have reached the disk.
//   killvictim <folder> <first generation>
// With "update", takes new editions into kadu.db in a loop instead, from
// the two Access files in turn (generation N from the first when N is even),
// announcing each ("u N").
//   killvictim update <folder> <first generation> <even.mdb> <odd.mdb>
#include "core/app/sidefiles.h"
#include "core/import/mdbimport.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/store/store.h"
#include "killgeneration.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

using namespace korvana;

namespace {
void say(const char *what, int generation)
{
    std::printf("%s %d\n", what, generation);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 5 && args[0] == QLatin1String("update")) {
        const QString db = QDir(args[1]).filePath(QStringLiteral("kadu.db"));
        say("ready", args[2].toInt());
        for (int generation = args[2].toInt();; ++generation) {
            if (!updateFromAccessFile(args[3 + generation % 2], db).ok)
                return 7;
            say("u", generation);
        }
    }
    if (argc != 3)
        return 2;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    int generation = std::atoi(argv[2]);

    auto store = Store::open(folder.filePath(QStringLiteral("kadu.db")));
    if (!store)
        return 3;
    RecordSource source(DirectoryKind::Personal);
    source.setStore(store.get());
    source.refresh();
    PersonalModel model(&source);
    say("ready", generation);
    for (;; ++generation) {
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
