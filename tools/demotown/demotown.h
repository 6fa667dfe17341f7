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

// A fictional town: its surnames, streets and enterprises, and the rows of
// its three directories. The rows of each directory come from their own
// stream, so the number of residents does not change the enterprises.
// Hands out the numbers base .. base + size - 1 in a scrambled order, each
// once; only when all are used does it start again (lines shared by several
// subscribers, which a very large town cannot avoid with this many digits).
class NumberPool {
public:
    NumberPool(quint64 base, quint64 size, quint64 key);
    quint64 take();
    bool exhausted() const { return m_taken >= m_size; }

private:
    quint64 scramble(quint64 x) const;

    quint64 m_base, m_size, m_key, m_mask;
    quint64 m_taken = 0;
};

class DemoTown {
public:
    explicit DemoTown(quint64 seed);
    DemoTown(const DemoTown &) = delete; // holds a pointer into its own streets
    DemoTown &operator=(const DemoTown &) = delete;

    // One row of NASELEN / PREDPR (fields in tableInfo() order, NULL as a
    // null QVariant). Rows of one enterprise come one after another.
    QVariantList nextResident();
    QVariantList nextEnterprise();
    // The few entries of a freshly made personal directory.
    QList<QVariantList> personalEntries();

    qsizetype surnameCount() const { return qsizetype(m_surnames.size()); }

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
    };
    struct Address {
        QVariant street, dom, dom1, kvart, kvart1;
    };

    void buildSurnames(DemoRandom &rng);
    void buildStreets();
    const Surname &pickSurname(DemoRandom &rng) const;
    const Street &pickStreet(DemoRandom &rng) const;
    QString personName(DemoRandom &rng) const;
    QString residentNumber();
    Address address(DemoRandom &rng, const Street &street, bool office) const;
    quint64 houseHash(const Street &street, int house, const QString &part) const;
    void startEnterprise();

    quint64 m_seed;
    std::vector<Surname> m_surnames;
    std::vector<quint64> m_surnameCumulative; // Zipf-like weights, integer so they are exact
    std::vector<Street> m_streets;
    std::vector<quint64> m_streetCumulative;
    NumberPool m_residentNumbers5;
    NumberPool m_residentNumbers6;
    NumberPool m_firmBlocks5; // blocks of ten numbers, one per enterprise
    NumberPool m_firmBlocks6;
    DemoRandom m_residents;
    DemoRandom m_enterprises;
    DemoRandom m_personal;

    // The enterprise being written: its fixed fields and remaining remarks.
    QString m_firmName;
    QString m_firmNumberStem;
    const Street *m_firmStreet = nullptr;
    Address m_firmAddress;
    QStringList m_firmRemarks;
    int m_firmLastDigit = 0;
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
