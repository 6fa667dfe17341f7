#include "core/server/servernotes.h"

#include "core/server/pgconnection.h"
#include "core/store/store.h"

#include <QFile>

#include <sqlite3.h>

namespace korvana {

namespace {

// Every role that may connect may write «Мой». A row is in the office's
// shared list or in the own list of the role that made it; the policies
// keep own rows from every other role, so a hand-written statement is held
// to it as well. Which list a seat works in is the seat's setting.
const char *const kNoteSchema[] = {
    "CREATE TABLE IF NOT EXISTS korvana.note ("
    " id bigserial PRIMARY KEY,"
    " version bigint NOT NULL DEFAULT 1,"
    " owner name NOT NULL DEFAULT current_user,"
    " own boolean NOT NULL DEFAULT false,"
    " n_tel text, family text, street text, dom text, dom1 text, kvart text, kvart1 text)",
    // A table made before rows had a list: its rows join the shared list.
    "ALTER TABLE korvana.note ADD COLUMN IF NOT EXISTS own boolean NOT NULL DEFAULT false",
    // The version rises with every change, whoever writes it; the owner and the list never move.
    "CREATE OR REPLACE FUNCTION korvana.note_version() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN NEW.version := OLD.version + 1; NEW.owner := OLD.owner; NEW.own := OLD.own; NEW.id := OLD.id;"
    " RETURN NEW; END $$",
    "CREATE OR REPLACE FUNCTION korvana.note_notice() RETURNS trigger LANGUAGE plpgsql AS $$"
    " BEGIN PERFORM pg_notify('korvana_note', ''); RETURN NULL; END $$",
    "DROP TRIGGER IF EXISTS note_version ON korvana.note",
    "CREATE TRIGGER note_version BEFORE UPDATE ON korvana.note"
    " FOR EACH ROW EXECUTE FUNCTION korvana.note_version()",
    "DROP TRIGGER IF EXISTS note_notice ON korvana.note",
    "CREATE TRIGGER note_notice AFTER INSERT OR UPDATE OR DELETE ON korvana.note"
    " FOR EACH STATEMENT EXECUTE FUNCTION korvana.note_notice()",
    "ALTER TABLE korvana.note ENABLE ROW LEVEL SECURITY",
    "DROP POLICY IF EXISTS note_rows ON korvana.note",
    "CREATE POLICY note_rows ON korvana.note USING (NOT own OR owner = current_user)",
    // Nobody adds a row in another role's name, to either list.
    "DROP POLICY IF EXISTS note_owner ON korvana.note",
    "CREATE POLICY note_owner ON korvana.note AS RESTRICTIVE FOR INSERT WITH CHECK (owner = current_user)",
    "GRANT SELECT, INSERT, UPDATE, DELETE ON korvana.note TO PUBLIC",
    "GRANT USAGE ON SEQUENCE korvana.note_id_seq TO PUBLIC",
};

// Two additions at once (a seat's and the administrator's, or two windows')
// would each find an entry missing and both add it: they take turns.
constexpr qint64 kAddLock = 0x4b6f72764e6f7465; // "KorvNote"

constexpr const char *kColumns = "n_tel, family, street, dom, dom1, kvart, kvart1";
constexpr int kFields = 7;
const char *const kColumnNames[kFields] = {"n_tel", "family", "street", "dom", "dom1", "kvart", "kvart1"};

PgParam param(const QVariant &value)
{
    return value.isNull() ? PgParam::null() : PgParam(value.toString());
}

// The list a row is in, as the statements bind it.
PgParam ownParam(PersonalMode mode)
{
    return PgParam(mode == PersonalMode::Own ? "true" : "false");
}

QVariant cell(const PgResult &r, int row, int column)
{
    return r.isNull(row, column) ? QVariant() : QVariant(r.text(row, column));
}

} // namespace

std::optional<PersonalMode> personalModeFromText(const QString &text)
{
    const QString word = text.trimmed().toLower();
    if (word.isEmpty() || word == QLatin1String("shared"))
        return PersonalMode::Shared;
    if (word == QLatin1String("own"))
        return PersonalMode::Own;
    return std::nullopt;
}

bool ensureNoteSchema(PgConnection &db, QString *error)
{
    for (const char *statement : kNoteSchema) {
        if (!db.run(QString::fromLatin1(statement))) {
            *error = db.error();
            return false;
        }
    }
    return true;
}

QList<QVariantList> readLocalNotes(const QString &dbPath, QString *error)
{
    QList<QVariantList> rows;
    sqlite3 *file = nullptr;
    // Read-only and without the store: the file must stay as it is, not be upgraded.
    if (sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &file, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        *error = QStringLiteral("не удаётся открыть %1: %2").arg(dbPath, QString::fromUtf8(sqlite3_errmsg(file)));
        sqlite3_close(file);
        return {};
    }
    // Another program may be committing to it: wait a little, as the store does.
    sqlite3_busy_timeout(file, 2000);
    {
        Statement read(file, QStringLiteral("SELECT N_tel, Family, Street, Dom, Dom1, Kvart, Kvart1 FROM Note ORDER BY rowid"));
        int step = read.isValid() ? read.step() : SQLITE_ERROR;
        for (; step == SQLITE_ROW; step = read.step()) {
            QVariantList values;
            for (int c = 0; c < kFields; ++c)
                values << read.column(c);
            rows << values;
        }
        if (step != SQLITE_DONE) {
            *error = QStringLiteral("%1: %2").arg(dbPath, QString::fromUtf8(sqlite3_errmsg(file)));
            rows.clear();
        }
    }
    sqlite3_close(file);
    return rows;
}

int addNotes(PgConnection &db, const QList<QVariantList> &rows, PersonalMode mode, QString *error)
{
    int added = 0;
    bool ok = db.run(QStringLiteral("BEGIN"))
              && db.run(QStringLiteral("SELECT pg_advisory_xact_lock($1)"), {PgParam(kAddLock)});
    for (int r = 0; ok && r < rows.size(); ++r) {
        QList<PgParam> params;
        for (const QVariant &v : rows.at(r))
            params << param(v);
        params << ownParam(mode);
        const PgResult in = db.exec(
            QStringLiteral("INSERT INTO korvana.note (%1, own) SELECT $1::text, $2::text, $3::text, $4::text, $5::text,"
                           " $6::text, $7::text, $8::boolean WHERE NOT EXISTS"
                           " (SELECT 1 FROM korvana.note WHERE own = $8 AND n_tel IS NOT DISTINCT FROM $1"
                           " AND family IS NOT DISTINCT FROM $2 AND street IS NOT DISTINCT FROM $3"
                           " AND dom IS NOT DISTINCT FROM $4 AND dom1 IS NOT DISTINCT FROM $5"
                           " AND kvart IS NOT DISTINCT FROM $6 AND kvart1 IS NOT DISTINCT FROM $7) RETURNING id")
                .arg(QLatin1String(kColumns)),
            params);
        ok = in.ok();
        added += in.rows();
    }
    if (ok && db.run(QStringLiteral("COMMIT")))
        return added;
    *error = db.error();
    db.run(QStringLiteral("ROLLBACK"));
    return -1;
}

int addLocalNotes(PgConnection &db, const QString &dbPath, PersonalMode mode, QString *error)
{
    const QList<QVariantList> rows = readLocalNotes(dbPath, error);
    return error->isEmpty() ? addNotes(db, rows, mode, error) : -1;
}

QString NoteSave::reason() const
{
    QStringList kept;
    for (const QVariant &v : refused)
        if (!v.toString().trimmed().isEmpty())
            kept << v.toString().trimmed();
    const QString values = kept.isEmpty() ? QString()
                                          : QStringLiteral("\nНе сохранено: ") + kept.join(QStringLiteral(", "));
    switch (status) {
    case Status::Saved: return {};
    case Status::Changed:
        return QStringLiteral("Запись изменена на другом рабочем месте; показана её новая версия.") + values;
    case Status::Deleted: return QStringLiteral("Запись удалена на другом рабочем месте.") + values;
    case Status::Failed: break;
    }
    return QStringLiteral("Сервер справочника не принял изменение: ") + error + values;
}

bool ServerNotes::refresh(QString *error)
{
    const PgResult rows = m_db.exec(QStringLiteral("SELECT id, version, %1 FROM korvana.note WHERE own = $1 ORDER BY id")
                                        .arg(QLatin1String(kColumns)),
                                    {ownParam(m_mode)});
    if (!rows.ok()) {
        if (error)
            *error = m_db.error();
        return false;
    }
    QHash<qint64, QVariantList> server;
    QHash<qint64, qint64> versions;
    for (int r = 0; r < rows.rows(); ++r) {
        QVariantList values;
        for (int c = 0; c < kFields; ++c)
            values << cell(rows, r, c + 2);
        server.insert(rows.int64(r, 0), values);
        versions.insert(rows.int64(r, 0), rows.int64(r, 1));
    }

    // What the mirror holds now; only the differences are written.
    auto mirrorFailed = [&] {
        if (error)
            *error = m_mirror.lastError();
        return false;
    };
    QHash<qint64, QVariantList> local;
    {
        Statement *read = m_mirror.statement(
            QStringLiteral("SELECT rowid, N_tel, Family, Street, Dom, Dom1, Kvart, Kvart1 FROM Note"));
        if (!read)
            return mirrorFailed();
        Statement::Use use(*read);
        while (use->step() == 100 /* SQLITE_ROW */) {
            QVariantList values;
            for (int c = 0; c < kFields; ++c)
                values << use->column(c + 1);
            local.insert(use->columnInt64(0), values);
        }
    }
    bool began = false;
    auto write = [&](bool ok) {
        if (!ok && began)
            m_mirror.rollback();
        return ok;
    };
    auto begin = [&] { return began || (began = m_mirror.begin()); };
    const QStringList &fields = tableInfo(DirectoryKind::Personal).fields;
    for (auto it = local.cbegin(); it != local.cend(); ++it)
        if (!server.contains(it.key()) && !write(begin() && m_mirror.deleteRow(DirectoryKind::Personal, it.key())))
            return mirrorFailed();
    for (auto it = server.cbegin(); it != server.cend(); ++it) {
        const auto here = local.constFind(it.key());
        if (here == local.cend()) {
            qint64 rowid = 0;
            Statement *move = nullptr;
            const bool ok = begin() && m_mirror.insertRow(DirectoryKind::Personal, it.value(), &rowid)
                            && (move = m_mirror.statement(QStringLiteral("UPDATE Note SET rowid = ?1 WHERE rowid = ?2")));
            if (!write(ok))
                return mirrorFailed();
            Statement::Use use(*move);
            use->bindInt64(1, it.key());
            use->bindInt64(2, rowid);
            if (!write(use->step() == 101 /* SQLITE_DONE */))
                return mirrorFailed();
            continue;
        }
        for (int c = 0; c < kFields; ++c) {
            const QVariant &want = it.value().at(c);
            const QVariant &have = here->at(c);
            if (want.isNull() == have.isNull() && want.toString() == have.toString())
                continue;
            if (!write(begin() && m_mirror.updateField(DirectoryKind::Personal, it.key(), fields.at(c), want)))
                return mirrorFailed();
        }
    }
    if (began && !write(m_mirror.commit()))
        return mirrorFailed();
    m_versions = versions;
    return true;
}

NoteSave ServerNotes::failed(const QVariantList &values)
{
    NoteSave save;
    save.error = m_db.error();
    save.refused = values;
    return save;
}

NoteSave ServerNotes::saved(qint64 id)
{
    NoteSave save;
    save.status = NoteSave::Status::Saved;
    save.id = id;
    refresh();
    return save;
}

NoteSave ServerNotes::checked(const PgResult &written, qint64 id, const QVariantList &values)
{
    if (!written.ok())
        return failed(values);
    if (written.rows() == 1)
        return saved(id);
    // Not written: the row's version moved on, or the row is gone (or, per
    // operator, was never this role's). The mirror then shows the server's row.
    const PgResult still = m_db.exec(QStringLiteral("SELECT 1 FROM korvana.note WHERE id = $1"), {id});
    NoteSave save;
    save.status = still.rows() == 1 ? NoteSave::Status::Changed : NoteSave::Status::Deleted;
    save.id = id;
    save.refused = values;
    refresh();
    return save;
}

NoteSave ServerNotes::insert(const QVariantList &values)
{
    QList<PgParam> params;
    for (int c = 0; c < kFields; ++c)
        params << param(values.value(c));
    params << ownParam(m_mode);
    const PgResult r = m_db.exec(
        QStringLiteral("INSERT INTO korvana.note (%1, own) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) RETURNING id")
            .arg(QLatin1String(kColumns)),
        params);
    if (r.rows() != 1)
        return failed(values);
    return saved(r.int64(0, 0));
}

NoteSave ServerNotes::edit(qint64 id, const QHash<int, QVariant> &values)
{
    QVariantList shown(kFields);
    QStringList sets;
    QList<PgParam> params = {PgParam(id), PgParam(version(id))};
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.key() < 0 || it.key() >= kFields)
            continue;
        shown[it.key()] = it.value();
        params << param(it.value());
        sets << QStringLiteral("%1 = $%2").arg(QLatin1String(kColumnNames[it.key()])).arg(params.size());
    }
    if (sets.isEmpty())
        return NoteSave{NoteSave::Status::Saved, {}, id, {}};
    // One statement is one transaction: the version checked is the version replaced.
    const PgResult r = m_db.exec(QStringLiteral("UPDATE korvana.note SET %1 WHERE id = $1 AND version = $2"
                                                " RETURNING version")
                                     .arg(sets.join(QStringLiteral(", "))),
                                 params);
    return checked(r, id, shown);
}

NoteSave ServerNotes::remove(qint64 id)
{
    const PgResult r = m_db.exec(QStringLiteral("DELETE FROM korvana.note WHERE id = $1 AND version = $2 RETURNING id"),
                                 {id, version(id)});
    return checked(r, id, {});
}

} // namespace korvana
