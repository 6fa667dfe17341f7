#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <vector>

namespace korvana {

// splitmix64: small, fast and the same on every platform, so that one seed
// always gives one town (std:: engines' distributions are not portable).
class DemoRandom {
public:
    explicit DemoRandom(quint64 seed) : m_state(seed) {}
    quint64 next();
    // 0 <= result < bound (bound > 0)
    quint32 below(quint32 bound);
    // true with the given chance in per mille
    bool perMille(quint32 chance) { return below(1000) < chance; }

private:
    quint64 m_state;
};

// The numbers of one district's exchange: `size` numbers from `base` (a
// multiple of ten), handed out in scrambled blocks of ten as an exchange
// hands out its lines. Residents take them from the front of that order and
// enterprises from the back, so neither side's numbers depend on how many
// the other took; the two meet only when the district is full.
class NumberBlock {
public:
    NumberBlock(quint64 base, quint64 size, quint64 key);
    bool full() const { return m_front + m_back >= m_size; }
    quint64 takeFront() { return at(m_front++); }
    quint64 takeBack() { return at(m_size - 1 - m_back++); }
    // Starts handing out again (numbers then repeat).
    void reset() { m_front = m_back = 0; }

private:
    quint64 at(quint64 position) const;
    quint64 scramble(quint64 x) const;

    quint64 m_base, m_size, m_blocks, m_key, m_mask;
    quint64 m_front = 0, m_back = 0;
};

// A fictional town: its surnames, streets and enterprises, and the rows of
// its three directories. The rows of each directory come from their own
// stream, so the number of residents does not change the enterprises.
// `lines` is how many numbers the town hands out (residents, enterprise
// lines and personal entries): it decides their length, five digits for up
// to 80,000, more for larger towns. Each is distinct as long as no more are
// taken than that.
class DemoTown {
public:
    DemoTown(quint64 seed, qint64 lines);
    DemoTown(const DemoTown &) = delete; // holds a pointer into its own streets
    DemoTown &operator=(const DemoTown &) = delete;

    // One row of NASELEN / PREDPR (fields in tableInfo() order, NULL as a
    // null QVariant). Rows of one enterprise come one after another.
    QVariantList nextResident();
    QVariantList nextEnterprise();
    // The few entries of a freshly made personal directory.
    QList<QVariantList> personalEntries();

    qsizetype surnameCount() const { return qsizetype(m_surnames.size()); }
    static qsizetype personalEntryCount();

private:
    struct Surname {
        QString masculine;
        QString feminine;
        bool ukrainian;
    };
    struct Street {
        QString name;
        int houses;         // highest house number
        int flatsPerMille;  // share of houses that are blocks of flats
        int weight;         // relative number of households
        int district;       // whose exchange serves it
    };
    struct Address {
        QVariant street, dom, dom1, kvart, kvart1;
    };

    void buildSurnames(DemoRandom &rng);
    void buildStreets();
    void buildDistricts(qint64 lines);
    QString takeNumber(const Street &street, bool fromBack);
    const Surname &pickSurname(DemoRandom &rng) const;
    const Street &pickStreet(DemoRandom &rng) const;
    QString personName(DemoRandom &rng) const;
    Address address(DemoRandom &rng, const Street &street, bool office) const;
    quint64 houseHash(const Street &street, int house, const QString &part) const;
    void startEnterprise();

    quint64 m_seed;
    std::vector<Surname> m_surnames;
    std::vector<quint64> m_surnameCumulative; // Zipf-like weights, integer so they are exact
    std::vector<Street> m_streets;
    std::vector<quint64> m_streetCumulative;
    std::vector<NumberBlock> m_districts;
    DemoRandom m_residents;
    DemoRandom m_enterprises;
    DemoRandom m_personal;

    // The enterprise being written: its fixed fields and remaining remarks.
    QString m_firmName;
    const Street *m_firmStreet = nullptr;
    Address m_firmAddress;
    QStringList m_firmRemarks;
    int m_firmSerial = 0;
    std::vector<int> m_firmCounters; // per kind, for numbered institutions
};

struct DemoTownOptions {
    qint64 residents = 30000;
    qint64 enterprises = 1500;
    quint64 seed = 1;
    bool overwrite = false;
};

// Writes a complete directory file: the rows, then the search indexes. The
// file appears under `path` only when complete (it is built under a
// temporary name beside it and renamed); an existing file is kept unless
// options.overwrite.
bool writeDemoTown(const QString &path, const DemoTownOptions &options, QString *error = nullptr);

} // namespace korvana
