#include "demotown/demotown.h"

#include "core/store/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <numeric>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvana {

// ---- DemoRandom -------------------------------------------------------------

quint64 DemoRandom::next()
{
    quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

quint32 DemoRandom::below(quint32 bound)
{
    // Multiply-shift: the bias for bounds this small is far below notice.
    return quint32((next() >> 32) * bound >> 32);
}

namespace {

quint64 mix(quint64 seed, quint64 stream)
{
    DemoRandom r(seed ^ (stream * 0xd1b54a32d192ed03ULL));
    return r.next();
}

template<typename T, std::size_t N>
const T &pick(DemoRandom &rng, const T (&items)[N])
{
    return items[rng.below(quint32(N))];
}

QChar pickChar(DemoRandom &rng, const QString &weighted)
{
    return weighted.at(rng.below(quint32(weighted.size())));
}

std::size_t pickCumulative(DemoRandom &rng, const std::vector<quint64> &cumulative)
{
    const quint64 total = cumulative.back();
    const quint64 x = quint64((static_cast<unsigned __int128>(rng.next()) * total) >> 64);
    return std::size_t(std::upper_bound(cumulative.begin(), cumulative.end(), x)
                       - cumulative.begin());
}

template<typename T>
void shuffle(DemoRandom &rng, std::vector<T> &v, std::size_t from)
{
    for (std::size_t i = v.size(); i > from + 1; --i)
        std::swap(v[i - 1], v[from + rng.below(quint32(i - from))]);
}

// The commonest surnames, most common first; they head the Zipf ranking.
// Both spellings of Фёдоров occur, as they do in real directories.
const char16_t *const kCommonSurnames[] = {
    u"Коваленко", u"Иванов", u"Бондаренко", u"Петров", u"Шевченко", u"Смирнов",
    u"Ткаченко", u"Кузнецов", u"Кравченко", u"Попов", u"Мельник", u"Соколов",
    u"Бойко", u"Лебедев", u"Олійник", u"Козлов", u"Шевчук", u"Новиков", u"Коваль",
    u"Морозов", u"Поліщук", u"Волков", u"Ткачук", u"Соловьёв", u"Лисенко",
    u"Васильев", u"Марченко", u"Зайцев", u"Руденко", u"Павлов", u"Савченко",
    u"Семёнов", u"Мороз", u"Голубев", u"Кравчук", u"Виноградов", u"Левченко",
    u"Богданов", u"Ковальчук", u"Воробьёв", u"Гончаренко", u"Фёдоров", u"Федоров",
    u"Романенко", u"Михайлов", u"Мельниченко", u"Беляев", u"Павленко", u"Тарасов",
    u"Литвиненко", u"Белов", u"Гаврилюк", u"Комаров", u"Карпенко", u"Орлов",
    u"Киселёв", u"Клименко", u"Макаров", u"Іваненко", u"Андреев", u"Ковалёв",
    u"Ільченко", u"Никитин", u"Юрченко", u"Захаров", u"Гуменюк", u"Зуев",
    u"Петренко", u"Степанов", u"Сидоренко", u"Николаев", u"Євтушенко", u"Орехов",
    u"Єрмоленко", u"Яковлев", u"Дмитренко", u"Гусев", u"Ігнатенко", u"Титов",
    u"Кузьменко", u"Кудрявцев", u"Швець", u"Баранов", u"Костенко", u"Куликов",
    u"Приходько", u"Алексеев", u"Гнатюк", u"Степаненко", u"Сорокин", u"Пономаренко",
    u"Ершов", u"Їжак", u"Ґудзь", u"Ґонтаренко", u"Ярошенко", u"Білоус", u"Гребенюк",
    u"Щербак", u"Щербаков", u"Юдин", u"Яценко", u"Ющук", u"Жуков", u"Жученко",
    u"Ємець", u"Їжакевич", u"Ґалаґан", u"Острожский", u"Вишневский", u"Толстой",
};

// Stems and endings for the long tail of rarer surnames.
const char16_t *const kStems[] = {
    u"Бел", u"Черн", u"Сер", u"Рыж", u"Кудр", u"Лыс", u"Бород", u"Гол", u"Мал",
    u"Добр", u"Крив", u"Сух", u"Тих", u"Гром", u"Бур", u"Гриц", u"Дорош", u"Сидор",
    u"Мартын", u"Остап", u"Наум", u"Назар", u"Прох", u"Фом", u"Кирил", u"Данил",
    u"Гаврил", u"Лук", u"Яким", u"Юхим", u"Охрим", u"Панас", u"Харит", u"Демид",
    u"Карп", u"Клим", u"Кондрат", u"Лавр", u"Мирон", u"Нестер", u"Онищ", u"Пилип",
    u"Савел", u"Стец", u"Трохим", u"Устим", u"Хом", u"Яц", u"Ярем", u"Бонд", u"Гонч",
    u"Кравц", u"Ткач", u"Кушн", u"Слюс", u"Столяр", u"Бочар", u"Пекар", u"Рыбал",
    u"Пасеч", u"Сторож", u"Пастух", u"Возн", u"Сокол", u"Ворон", u"Голуб", u"Журавл",
    u"Лебед", u"Гусак", u"Дроз", u"Синиц", u"Чиж", u"Щегл", u"Сом", u"Карас", u"Окун",
    u"Щук", u"Ерш", u"Бобр", u"Барсук", u"Медвед", u"Вовк", u"Лис", u"Заяч", u"Кот",
    u"Бык", u"Баран", u"Козел", u"Петух", u"Гор", u"Лес", u"Луг", u"Бор", u"Дуб",
    u"Берёз", u"Клён", u"Ясен", u"Калин", u"Малин", u"Вишн", u"Груш", u"Мак", u"Овс",
    u"Греч", u"Пшен", u"Хмел", u"Мед", u"Сал", u"Борщ", u"Кулеш", u"Галуш", u"Шкур",
    u"Кожух", u"Шап", u"Чобот", u"Пояс", u"Гнат", u"Гордій", u"Сівер", u"Білан",
    u"Їв", u"Єрем", u"Ґуд", u"Ґал", u"Явор", u"Жур", u"Зубр", u"Ковтун", u"Гайдам",
    u"Козак", u"Сотн", u"Осавул", u"Шабл", u"Кобз", u"Бандур", u"Цимбал", u"Сопил",
    u"Дзвон", u"Криниц", u"Левад", u"Могил", u"Степ", u"Байрак", u"Яр", u"Бугай",
    u"Вербиц", u"Тополь", u"Осик", u"Липов", u"Сосн", u"Ялин", u"Глод", u"Терн",
};

const char16_t *const kFirstSyllables[] = {
    u"Ба", u"Бо", u"Бу", u"Ва", u"Ве", u"Во", u"Га", u"Го", u"Гу", u"Да", u"Де",
    u"До", u"Жу", u"За", u"Зо", u"Ка", u"Ко", u"Ку", u"Ла", u"Ле", u"Ло", u"Ма",
    u"Мо", u"Му", u"На", u"Но", u"Па", u"Пе", u"По", u"Ра", u"Ро", u"Са", u"Се",
    u"Со", u"Та", u"Те", u"То", u"Фе", u"Ха", u"Хо", u"Ша", u"Шу",
};

const char16_t *const kSecondSyllables[] = {
    u"бр", u"вар", u"ган", u"дан", u"дор", u"зар", u"кал", u"лаш", u"лит", u"луш",
    u"ман", u"мар", u"нар", u"пал", u"рак", u"рен", u"рон", u"руш", u"сан", u"сил",
    u"сов", u"тар", u"тул", u"хар", u"чар", u"шин", u"бут", u"лоз", u"мил", u"рыл",
    u"вец", u"губ", u"душ", u"жен", u"кус", u"лик",
};

const char16_t *const kEndings[] = {u"ов", u"ин", u"енко", u"ук", u"ицкий", u"ович", u"ак", u"ко"};

// The feminine form of a surname: -ов/-ин add -а, adjectival forms change
// their ending, everything else (-енко, -ук, -ич, nouns) stays.
QString feminine(const QString &m)
{
    for (const char16_t *e : {u"ов", u"ев", u"ёв", u"ин", u"ын"}) {
        if (m.endsWith(QStringView(e)))
            return m + u'а';
    }
    if (m.endsWith(u"ий"))
        return m.left(m.size() - 2) + QStringLiteral("ая");
    if (m.endsWith(u"ой"))
        return m.left(m.size() - 2) + QStringLiteral("ая");
    return m;
}

bool looksUkrainian(const QString &s)
{
    for (const char16_t *e : {u"енко", u"ук", u"юк", u"ак", u"ко", u"ець"}) {
        if (s.endsWith(QStringView(e)))
            return true;
    }
    for (QChar c : s) {
        const char16_t u = c.toLower().unicode();
        if (u == u'і' || u == u'ї' || u == u'є' || u == u'ґ')
            return true;
    }
    return false;
}

// Initials weighted by how often the names behind them occur.
const QString kRussianMale = QStringLiteral("АААААААВВВВВВСССССННИИИЮЮЮГГДДДММППООЕЕББРФЯЛККТЭ");
const QString kRussianFemale = QStringLiteral("НННННТТТТЛЛЛООГГГВВВЕЕИИИММААСССЮЮЯЖРЗЭ");
const QString kRussianPatronymic = QStringLiteral("ААААВВВВННИИИППССССГГММДДЮЮЕФББЯТКЛОР");
const QString kUkrainianMale = QStringLiteral("ООООВВВВААААСССММППІІІЮЮГГДДТТБЯРЄЛКК");
const QString kUkrainianFemale = QStringLiteral("ООООННННТТТЛЛЛГГВВІІІМММААСЮЮЯЄЛЖЗ");
const QString kUkrainianPatronymic = QStringLiteral("ВВВМММІІППССГГОООАААДДЮЮЯЯФТБРКЛЄЄЇ");

// name, kind (0 street, 1 lane, 2 avenue, 3 square, 4 boulevard), houses,
// blocks of flats per mille, weight
struct StreetSeed {
    const char16_t *name;
    int kind;
    int houses;
    int flats;
    int weight;
};

const StreetSeed kStreets[] = {
    {u"Садовая", 0, 90, 200, 6}, {u"Шевченко", 0, 160, 700, 10}, {u"8 Марта", 0, 70, 500, 5},
    {u"1 Мая", 0, 60, 400, 4}, {u"Мира", 2, 240, 900, 14}, {u"Победы", 2, 200, 900, 12},
    {u"Лесной", 1, 30, 0, 1}, {u"Тихий", 1, 18, 0, 1}, {u"Школьный", 1, 24, 50, 1},
    {u"Садовый", 1, 28, 0, 1}, {u"Ґаражний", 1, 12, 0, 1}, {u"Кленовый", 1, 22, 0, 1},
    {u"Зелёная", 0, 110, 150, 5}, {u"Молодёжная", 0, 80, 950, 9}, {u"Набережная", 0, 120, 600, 6},
    {u"Гагарина", 0, 140, 800, 10}, {u"Пушкина", 0, 100, 500, 7}, {u"Франко", 0, 90, 400, 5},
    {u"Лесі Українки", 0, 70, 300, 4}, {u"Київська", 0, 130, 500, 7}, {u"Соборна", 0, 60, 600, 4},
    {u"Шкільна", 0, 50, 100, 3}, {u"Вишнева", 0, 60, 0, 3}, {u"Заводская", 0, 90, 700, 6},
    {u"Железнодорожная", 0, 70, 300, 4}, {u"Привокзальная", 0, 40, 400, 3},
    {u"Степная", 0, 80, 0, 3}, {u"Полевая", 0, 70, 0, 3}, {u"Луговая", 0, 60, 0, 3},
    {u"Речная", 0, 50, 50, 3}, {u"Кооперативная", 0, 60, 500, 3}, {u"Строителей", 2, 180, 950, 11},
    {u"Космонавтов", 2, 150, 950, 9}, {u"Энергетиков", 0, 90, 950, 7}, {u"Горького", 0, 110, 400, 5},
    {u"Лермонтова", 0, 80, 300, 4}, {u"Чехова", 0, 70, 300, 4}, {u"Толстого", 0, 90, 400, 4},
    {u"Котляревського", 0, 60, 200, 3}, {u"Сковороди", 0, 50, 200, 3}, {u"Ярослава Мудрого", 0, 80, 500, 4},
    {u"Рыночная", 3, 16, 500, 1}, {u"Центральная", 3, 20, 700, 2}, {u"Приморский", 4, 60, 800, 4},
    {u"Каштановий", 4, 50, 700, 3}, {u"Озёрная", 0, 60, 100, 3}, {u"Ягідна", 0, 40, 0, 2},
    {u"Їжакова", 0, 30, 0, 1}, {u"Єврейська", 0, 40, 300, 2}, {u"Подгорная", 0, 70, 0, 3},
    {u"Нагорная", 0, 60, 0, 3}, {u"Весёлая", 0, 50, 0, 2}, {u"Солнечная", 0, 70, 200, 3},
    {u"Весенняя", 0, 60, 100, 3}, {u"Южная", 0, 80, 600, 4}, {u"Северная", 0, 80, 600, 4},
    {u"Новая", 0, 90, 300, 4}, {u"Старая", 0, 40, 0, 2}, {u"Мостовая", 0, 50, 200, 2},
    {u"Кирпичная", 0, 40, 100, 2}, {u"Мельничная", 0, 40, 0, 2}, {u"Пасечная", 0, 30, 0, 1},
    {u"Хлебная", 0, 40, 200, 2}, {u"Почтовая", 0, 50, 400, 2}, {u"Торговая", 0, 60, 500, 3},
    {u"Больничная", 0, 40, 300, 2}, {u"Спортивная", 0, 50, 700, 3}, {u"Парковая", 0, 60, 600, 3},
    {u"Гоголя", 0, 90, 400, 5}, {u"Короленко", 0, 70, 300, 3}, {u"Некрасова", 0, 60, 300, 3},
    {u"Маяковского", 0, 90, 800, 5}, {u"Чайковского", 0, 50, 300, 2}, {u"Глинки", 0, 40, 200, 2},
    {u"Полтавский", 4, 70, 800, 4}, {u"Независимости", 2, 220, 950, 12}, {u"Дружбы", 2, 170, 900, 8},
    {u"Рябиновый", 1, 20, 0, 1}, {u"Вербный", 1, 16, 0, 1}, {u"Ясный", 1, 14, 0, 1},
    {u"Полевой", 1, 26, 0, 1}, {u"Речной", 1, 20, 0, 1}, {u"Глухой", 1, 10, 0, 1},
    {u"Южный", 1, 22, 100, 1}, {u"Їжачий", 1, 12, 0, 1}, {u"Ёлочный", 1, 14, 0, 1},
};

const char16_t *const kQuotedNames[] = {
    u"Рассвет", u"Заря", u"Весна", u"Радуга", u"Ромашка", u"Колос", u"Світанок", u"Ясень",
    u"Надія", u"Берёзка", u"Калина", u"Подснежник", u"Луч", u"Меридиан", u"Гранит",
    u"Вектор", u"Альфа", u"Прогресс", u"Импульс", u"Мрія", u"Лелека", u"Ёлочка",
    u"Їжачок", u"Єдність", u"Ґражда", u"Уют", u"Комфорт", u"Виктория", u"Олимп",
    u"Престиж", u"Атлант", u"Горизонт", u"Каравай", u"Колосок", u"Пролісок", u"Чайка",
    u"Ласточка", u"Журавушка", u"Днепр", u"Ока", u"Волна", u"Парус", u"Якорь", u"Маяк",
    u"Огонёк", u"Звёздочка", u"Сказка", u"Теремок", u"Золотой ключик", u"Садко",
    u"Богатырь", u"Витязь", u"Славутич", u"Оберіг", u"Криниця", u"Джерело", u"Водограй",
    u"Барвінок", u"Соняшник", u"Кедр", u"Дубрава", u"Лесовичок", u"Медок", u"Пасека",
    u"Хуторок", u"Млин", u"Нива", u"Урожай", u"Агро-Юг", u"Стройсервис", u"Техномир",
    u"Электрон", u"Спектр", u"Орбита", u"Сатурн", u"Юпитер", u"Лотос", u"Жемчужина",
    u"Фортуна", u"Удача", u"Добробут", u"Затишок", u"Смак", u"Вкусняшка", u"Каштан",
    u"Явір", u"Ясна поляна", u"Грація", u"Шарм", u"Локон", u"Ножницы", u"Иголочка",
    u"Автомастер", u"Мотор", u"Шина-Сервис", u"Транзит", u"Експрес", u"Почта-плюс",
};

// One kind of enterprise: its name pattern ("%1" the number or the quoted
// name), whether it is numbered, how often it occurs and its remarks, the
// first always present (an empty remark is stored as NULL).
struct FirmKind {
    const char16_t *pattern;
    bool numbered;
    int weight;
    const char16_t *const *remarks;
    int remarkCount;
};

const char16_t *const kSchoolRemarks[] = {u"директор", u"приёмная", u"учительская", u"бухгалтерия", u"вахта"};
const char16_t *const kClinicRemarks[] = {u"регистратура", u"главврач", u"приёмная", u"справочная"};
const char16_t *const kPharmacyRemarks[] = {u"", u"справочная", u"заведующая"};
const char16_t *const kShopRemarks[] = {u"", u"директор", u"касса"};
const char16_t *const kFirmRemarks[] = {u"приёмная", u"директор", u"бухгалтерия", u"отдел кадров", u"факс", u"диспетчер", u"склад"};
const char16_t *const kServiceRemarks[] = {u"", u"администратор"};
const char16_t *const kKindergartenRemarks[] = {u"заведующая", u"кухня", u"бухгалтерия"};
const char16_t *const kPublicRemarks[] = {u"", u"заведующая", u"абонемент"};

#define REMARKS(a) a, int(std::size(a))
const FirmKind kFirmKinds[] = {
    {u"Школа №%1", true, 30, REMARKS(kSchoolRemarks)},
    {u"Гимназия №%1", true, 4, REMARKS(kSchoolRemarks)},
    {u"Детский сад №%1", true, 25, REMARKS(kKindergartenRemarks)},
    {u"Детский сад \"%1\"", false, 8, REMARKS(kKindergartenRemarks)},
    {u"Аптека №%1", true, 30, REMARKS(kPharmacyRemarks)},
    {u"Аптека \"%1\"", false, 10, REMARKS(kPharmacyRemarks)},
    {u"Поликлиника №%1", true, 6, REMARKS(kClinicRemarks)},
    {u"Городская больница №%1", true, 3, REMARKS(kClinicRemarks)},
    {u"Отделение связи №%1", true, 15, REMARKS(kPublicRemarks)},
    {u"Библиотека №%1", true, 8, REMARKS(kPublicRemarks)},
    {u"Гастроном №%1", true, 15, REMARKS(kShopRemarks)},
    {u"Магазин \"%1\"", false, 60, REMARKS(kShopRemarks)},
    {u"Магазин №%1", true, 25, REMARKS(kShopRemarks)},
    {u"ООО \"%1\"", false, 80, REMARKS(kFirmRemarks)},
    {u"ЧП \"%1\"", false, 40, REMARKS(kFirmRemarks)},
    {u"ТОВ \"%1\"", false, 40, REMARKS(kFirmRemarks)},
    {u"АО \"%1\"", false, 12, REMARKS(kFirmRemarks)},
    {u"Кафе \"%1\"", false, 20, REMARKS(kServiceRemarks)},
    {u"Ресторан \"%1\"", false, 6, REMARKS(kServiceRemarks)},
    {u"Парикмахерская \"%1\"", false, 15, REMARKS(kServiceRemarks)},
    {u"Ателье \"%1\"", false, 8, REMARKS(kServiceRemarks)},
    {u"СТО \"%1\"", false, 10, REMARKS(kServiceRemarks)},
    {u"Гостиница \"%1\"", false, 3, REMARKS(kServiceRemarks)},
    {u"Музыкальная школа №%1", true, 2, REMARKS(kSchoolRemarks)},
    {u"Пожарная часть №%1", true, 2, REMARKS(kPublicRemarks)},
    {u"ЖЭК №%1", true, 10, REMARKS(kFirmRemarks)},
    {u"Нотариальная контора №%1", true, 4, REMARKS(kServiceRemarks)},
};
#undef REMARKS

// The town's one-off institutions, written before any other enterprise.
struct Institution {
    const char16_t *name;
    const char16_t *street;
    const char16_t *remarks; // separated by '|', empty item for NULL
};

const Institution kInstitutions[] = {
    {u"Городской совет", u"Центральная", u"приёмная|секретарь|общий отдел|бухгалтерия"},
    {u"Горгаз", u"Заводская", u"аварийная служба|диспетчер|абонентский отдел"},
    {u"Горводоканал", u"Набережная", u"диспетчер|приёмная|абонентский отдел"},
    {u"Автовокзал", u"Привокзальная", u"справочная|касса|диспетчер"},
    {u"Железнодорожный вокзал", u"Привокзальная", u"справочная|дежурный по станции"},
    {u"Центральный рынок", u"Рыночная", u"администрация|"},
    {u"Редакция газеты \"Вісті\"", u"Соборна", u"приёмная|отдел рекламы"},
    {u"Міська лікарня швидкої допомоги", u"Больничная", u"приёмне відділення|довідкова"},
};

// A few entries as a user might keep them.
const char16_t *const kPersonalNames[] = {
    u"Мама", u"Сантехник Грищенко", u"Такси \"Ласточка\"", u"Врач Семенюк О.В.",
    u"Дача, сосед Їжак П.С.",
};

// Each district has an exchange of its own; the town's numbers are split
// between them by their households.
constexpr int kDistricts = 8;

// Digits of the numbers of a town that hands out `lines` numbers. Numbers
// begin with 2 to 9 (0 and 1 lead to trunk and service calls), so d digits
// give 8 * 10^(d-1) lines.
int numberDigits(qint64 lines)
{
    int digits = 5;
    for (qint64 capacity = 80000; capacity < lines && digits < 18; capacity *= 10)
        ++digits;
    return digits;
}

} // namespace

// ---- NumberBlock ------------------------------------------------------------

NumberBlock::NumberBlock(quint64 base, quint64 size, quint64 key)
    : m_base(base), m_size(size), m_blocks(size / 10), m_key(key)
{
    m_mask = 1;
    while (m_mask < m_blocks)
        m_mask <<= 1;
    --m_mask;
}

quint64 NumberBlock::scramble(quint64 x) const
{
    // Each step is invertible on the masked bits (xor, odd multiplier,
    // xor-shift), so this permutes 0 .. mask.
    const int half = std::max(1, int(std::bit_width(m_mask)) / 2);
    for (int round = 0; round < 3; ++round) {
        x = (x ^ (m_key >> (round * 16))) & m_mask;
        x = (x * (0x9e3779b97f4a7c15ULL | 1)) & m_mask;
        x ^= x >> half;
    }
    return x;
}

quint64 NumberBlock::at(quint64 position) const
{
    // Cycle-walking keeps the permutation of blocks inside 0 .. blocks - 1.
    quint64 block = position / 10;
    do
        block = scramble(block);
    while (block >= m_blocks);
    // The last digit steps by 7 for the front and so by 3 for the back, from
    // a start of the block's own: neighbours' numbers do not simply count up.
    return m_base + block * 10 + (7 * (position % 10) + (block ^ m_key)) % 10;
}

// ---- DemoTown ---------------------------------------------------------------

DemoTown::DemoTown(quint64 seed, qint64 lines)
    : m_seed(seed), m_residents(mix(seed, 1)), m_enterprises(mix(seed, 2)),
      m_personal(mix(seed, 3))
{
    DemoRandom layout(mix(seed, 0));
    buildSurnames(layout);
    buildStreets();
    buildDistricts(lines);
}

qsizetype DemoTown::personalEntryCount()
{
    return qsizetype(std::size(kPersonalNames));
}

void DemoTown::buildDistricts(qint64 lines)
{
    // The numbers from 2 followed by zeros to all nines, in 80 equal units;
    // each district gets a run of units in proportion to its households.
    quint64 unit = 1000;
    for (int d = numberDigits(lines); d > 5; --d)
        unit *= 10;
    constexpr quint64 kUnits = 80;
    std::vector<quint64> households(kDistricts + 1, 0); // before each district
    for (const Street &s : m_streets)
        households[std::size_t(s.district) + 1] += quint64(s.weight);
    std::partial_sum(households.begin(), households.end(), households.begin());
    const quint64 total = households.back();
    const auto edge = [&](int k) { return (kUnits * households[std::size_t(k)] + total / 2) / total; };
    for (int k = 0; k < kDistricts; ++k)
        m_districts.emplace_back((20 + edge(k)) * unit, (edge(k + 1) - edge(k)) * unit,
                                 mix(m_seed, 4 + quint64(k)));
}

QString DemoTown::takeNumber(const Street &street, bool fromBack)
{
    // A full exchange passes its subscribers on to the next one, so every
    // number is used before any repeats.
    for (;;) {
        for (int i = 0; i < kDistricts; ++i) {
            NumberBlock &block = m_districts[std::size_t((street.district + i) % kDistricts)];
            if (!block.full())
                return QString::number(fromBack ? block.takeBack() : block.takeFront());
        }
        // More lines than the town was made for: hand the numbers out again.
        for (NumberBlock &block : m_districts)
            block.reset();
    }
}

void DemoTown::buildSurnames(DemoRandom &rng)
{
    QSet<QString> seen;
    auto add = [&](const QString &m) {
        if (seen.contains(m))
            return;
        seen.insert(m);
        m_surnames.push_back({m, feminine(m), looksUkrainian(m)});
    };
    for (const char16_t *s : kCommonSurnames)
        add(QString::fromUtf16(s));
    const std::size_t common = m_surnames.size();
    for (const char16_t *stem : kStems) {
        for (const char16_t *ending : kEndings)
            add(QString::fromUtf16(stem) + QString::fromUtf16(ending));
    }
    shuffle(rng, m_surnames, common);
    const std::size_t stems = m_surnames.size();
    for (const char16_t *a : kFirstSyllables) {
        for (const char16_t *b : kSecondSyllables) {
            for (const char16_t *ending : kEndings)
                add(QString::fromUtf16(a) + QString::fromUtf16(b) + QString::fromUtf16(ending));
        }
    }
    shuffle(rng, m_surnames, stems);

    // Weight 1/(rank + 8): the commonest surname holds about 1.5 % of the
    // town, and every name of the tail still turns up in a large town.
    constexpr quint64 scale = 1'000'000'000'000ULL;
    quint64 sum = 0;
    m_surnameCumulative.reserve(m_surnames.size());
    for (std::size_t r = 0; r < m_surnames.size(); ++r) {
        sum += scale / (r + 9);
        m_surnameCumulative.push_back(sum);
    }
}

void DemoTown::buildStreets()
{
    static const char16_t *const prefixes[] = {u"", u"пер. ", u"просп. ", u"пл. ", u"бульв. "};
    quint64 total = 0;
    for (const StreetSeed &s : kStreets)
        total += quint64(s.weight);
    // Neighbouring streets of the list form a district, each with about
    // an eighth of the households.
    quint64 sum = 0;
    for (const StreetSeed &s : kStreets) {
        Street street;
        street.name = QString::fromUtf16(prefixes[s.kind]) + QString::fromUtf16(s.name);
        street.houses = s.houses;
        street.flatsPerMille = s.flats;
        street.weight = s.weight;
        street.district = int(sum * kDistricts / total);
        m_streets.push_back(street);
        sum += quint64(s.weight);
        m_streetCumulative.push_back(sum);
    }
}

const DemoTown::Surname &DemoTown::pickSurname(DemoRandom &rng) const
{
    return m_surnames[pickCumulative(rng, m_surnameCumulative)];
}

const DemoTown::Street &DemoTown::pickStreet(DemoRandom &rng) const
{
    return m_streets[pickCumulative(rng, m_streetCumulative)];
}

QString DemoTown::personName(DemoRandom &rng) const
{
    const Surname &s = pickSurname(rng);
    const bool female = rng.perMille(530);
    const bool ukrainianInitials = s.ukrainian ? rng.perMille(700) : rng.perMille(60);
    const QString &first = ukrainianInitials ? (female ? kUkrainianFemale : kUkrainianMale)
                                             : (female ? kRussianFemale : kRussianMale);
    QString out = (female ? s.feminine : s.masculine) + u' ' + pickChar(rng, first) + u'.';
    if (!rng.perMille(20)) {
        out += pickChar(rng, ukrainianInitials ? kUkrainianPatronymic : kRussianPatronymic);
        out += u'.';
    }
    return out;
}

quint64 DemoTown::houseHash(const Street &street, int house, const QString &part) const
{
    // FNV-1a over the house's identity: every resident of one house agrees
    // on whether it has flats and how many.
    quint64 h = 0xcbf29ce484222325ULL ^ m_seed;
    auto feed = [&h](quint64 v) {
        h ^= v;
        h *= 0x100000001b3ULL;
    };
    for (QChar c : street.name)
        feed(c.unicode());
    feed(quint64(house) + 0x10000);
    for (QChar c : part)
        feed(c.unicode());
    return DemoRandom(h).next();
}

DemoTown::Address DemoTown::address(DemoRandom &rng, const Street &street, bool office) const
{
    static const char16_t *const partSets[][3] = {
        {u"а", nullptr, nullptr}, {u"а", u"б", nullptr}, {u"а", u"б", u"в"},
        {u"/2", nullptr, nullptr}, {u"/1", u"/2", nullptr}, {u"А", nullptr, nullptr},
        {u"б", nullptr, nullptr}, {u"/3", nullptr, nullptr},
    };
    Address a;
    a.street = street.name;
    // Low numbers are a little more common: streets grow outwards.
    const int house = 1 + int(std::min(rng.below(quint32(street.houses)),
                                       rng.below(quint32(street.houses + street.houses / 2))));
    a.dom = QString::number(house);

    // About one house in twelve has lettered or split parts beside the plain number.
    QString part;
    const quint64 houseBits = houseHash(street, house, QString());
    if (houseBits % 12 == 0) {
        const auto &set = partSets[(houseBits >> 8) % std::size(partSets)];
        const int count = set[2] ? 3 : set[1] ? 2 : 1;
        const quint32 choice = rng.below(quint32(count + 1)); // 0 is the plain number
        if (choice > 0) {
            part = QString::fromUtf16(set[choice - 1]);
            a.dom1 = part;
        }
    }

    const quint64 bits = houseHash(street, house, part);
    const bool block = int(bits % 1000) < street.flatsPerMille;
    if (block && (!office || rng.perMille(150))) {
        const int flats = 8 + int((bits >> 16) % 173);
        a.kvart = QString::number(1 + rng.below(quint32(flats)));
        // Rooms of shared flats carry a second part.
        if (!office && rng.perMille(7))
            a.kvart1 = rng.perMille(500) ? QString::number(1 + rng.below(3))
                                         : QString(rng.perMille(500) ? u'а' : u'б');
    }
    return a;
}

QVariantList DemoTown::nextResident()
{
    const Street &street = pickStreet(m_residents);
    const QString name = personName(m_residents);
    const QString number = takeNumber(street, false);
    const Address a = address(m_residents, street, false);
    return {number, name, a.street, a.dom, a.dom1, a.kvart, a.kvart1};
}

void DemoTown::startEnterprise()
{
    DemoRandom &rng = m_enterprises;
    m_firmRemarks.clear();
    if (m_firmSerial < int(std::size(kInstitutions))) {
        const Institution &inst = kInstitutions[m_firmSerial];
        m_firmName = QString::fromUtf16(inst.name);
        const QString streetName = QString::fromUtf16(inst.street);
        m_firmStreet = &m_streets.front();
        for (const Street &s : m_streets) {
            if (s.name.endsWith(streetName))
                m_firmStreet = &s;
        }
        m_firmRemarks = QString::fromUtf16(inst.remarks).split(u'|');
    } else {
        static std::vector<quint64> cumulative = [] {
            std::vector<quint64> c;
            quint64 sum = 0;
            for (const FirmKind &k : kFirmKinds)
                c.push_back(sum += quint64(k.weight));
            return c;
        }();
        const std::size_t kindIndex = pickCumulative(rng, cumulative);
        const FirmKind &kind = kFirmKinds[kindIndex];
        // Numbered institutions count up, as a town numbers its schools.
        if (m_firmCounters.size() < std::size(kFirmKinds))
            m_firmCounters.assign(std::size(kFirmKinds), 0);
        const QString filler = kind.numbered
            ? QString::number(++m_firmCounters[kindIndex])
            : QString::fromUtf16(pick(rng, kQuotedNames));
        m_firmName = QString::fromUtf16(kind.pattern).arg(filler);
        m_firmStreet = &pickStreet(rng);
        // The first remark always, then each further one by chance.
        m_firmRemarks << QString::fromUtf16(kind.remarks[0]);
        for (int i = 1; i < kind.remarkCount; ++i) {
            if (rng.perMille(350))
                m_firmRemarks << QString::fromUtf16(kind.remarks[i]);
        }
    }
    ++m_firmSerial;
    m_firmAddress = address(rng, *m_firmStreet, true);
}

QVariantList DemoTown::nextEnterprise()
{
    if (m_firmRemarks.isEmpty())
        startEnterprise();
    const QString remark = m_firmRemarks.takeFirst();
    // Taken line by line, so a town that ends inside an enterprise uses no
    // more numbers than it has rows.
    const QString number = takeNumber(*m_firmStreet, true);
    return {m_firmName, number, remark.isEmpty() ? QVariant() : QVariant(remark),
            m_firmAddress.street, m_firmAddress.dom, m_firmAddress.dom1,
            m_firmAddress.kvart, m_firmAddress.kvart1};
}

QList<QVariantList> DemoTown::personalEntries()
{
    QList<QVariantList> out;
    for (const char16_t *name : kPersonalNames) {
        const Street &street = pickStreet(m_personal);
        const Address a = address(m_personal, street, false);
        // Lines of the town that the directories do not list.
        const QString number = takeNumber(street, false);
        out.append({number, QString::fromUtf16(name), a.street, a.dom,
                    a.dom1, a.kvart, a.kvart1});
    }
    return out;
}

// ---- writing the file -------------------------------------------------------

namespace {

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

bool fill(Store &store, const DemoTownOptions &options, QString *error)
{
    // The file is private until renamed, so durability during the build buys
    // nothing: no journal, no syncs (one fsync before the rename instead).
    for (const char *pragma : {"PRAGMA journal_mode = OFF", "PRAGMA synchronous = OFF",
                               "PRAGMA cache_size = -262144", "PRAGMA temp_store = MEMORY"}) {
        if (!store.exec(QString::fromLatin1(pragma), error))
            return false;
    }
    // Loading into indexed tables costs several times more than indexing
    // once at the end, so the empty indexes of a new file go first.
    QStringList indexes;
    {
        Statement q(store.handle(), QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL ORDER BY name"));
        while (q.step() == SQLITE_ROW)
            indexes << q.column(0).toString();
    }
    for (const QString &ix : indexes) {
        if (!store.exec(QStringLiteral("DROP INDEX \"%1\"").arg(ix), error))
            return false;
    }

    DemoTown town(options.seed,
                  options.residents + options.enterprises + DemoTown::personalEntryCount());
    if (!store.begin())
        return fail(error, store.lastError());
    auto insert = [&](DirectoryKind kind, const QVariantList &row) {
        return store.insertRow(kind, row) || fail(error, store.lastError());
    };
    for (qint64 i = 0; i < options.residents; ++i) {
        if (!insert(DirectoryKind::Residents, town.nextResident()))
            return false;
    }
    for (qint64 i = 0; i < options.enterprises; ++i) {
        if (!insert(DirectoryKind::Enterprises, town.nextEnterprise()))
            return false;
    }
    for (const QVariantList &row : town.personalEntries()) {
        if (!insert(DirectoryKind::Personal, row))
            return false;
    }
    if (!store.commit())
        return fail(error, store.lastError());
    if (!store.begin() || !store.createIndexes(error) || !store.commit())
        return fail(error, error && !error->isEmpty() ? *error : store.lastError());
    return true;
}

} // namespace

bool writeDemoTown(const QString &path, const DemoTownOptions &options, QString *error)
{
    if (options.residents < 0 || options.enterprises < 0)
        return fail(error, QStringLiteral("row counts must not be negative"));
    const QFileInfo target(path);
    if (target.isDir())
        return fail(error, QStringLiteral("%1 is a directory").arg(path));
    if (target.exists() && !options.overwrite)
        return fail(error, QStringLiteral("%1 already exists").arg(path));

    // Beside the target, so that the rename stays on one file system.
    QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName()
                        + QStringLiteral(".XXXXXX.part"));
    if (!temp.open())
        return fail(error, QStringLiteral("cannot create a file in %1: %2")
                               .arg(target.absolutePath(), temp.errorString()));
    const QString tempPath = temp.fileName();
    temp.close();
    // A temporary file is private (0600); the directory is for every user
    // the umask allows, like any other new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::chmod(QFile::encodeName(tempPath).constData(), 0666 & ~mask) != 0)
        return fail(error, QStringLiteral("cannot set the permissions of %1").arg(tempPath));
    {
        QString why;
        std::unique_ptr<Store> store = Store::create(tempPath, &why);
        if (!store)
            return fail(error, why);
        if (!fill(*store, options, &why))
            return fail(error, why.isEmpty() ? store->lastError() : why);
    }
    {
        QFile written(tempPath);
        if (!written.open(QIODevice::ReadWrite) || ::fsync(written.handle()) != 0)
            return fail(error, QStringLiteral("cannot flush %1").arg(tempPath));
    }
    if (options.overwrite) {
        // rename(2) replaces the old file in one step.
        if (std::rename(QFile::encodeName(tempPath).constData(),
                        QFile::encodeName(target.absoluteFilePath()).constData())
            != 0)
            return fail(error, QStringLiteral("cannot rename %1 to %2").arg(tempPath, path));
    } else if (!temp.rename(target.absoluteFilePath())) {
        // QTemporaryFile::rename never replaces: a file made meanwhile survives.
        return fail(error, QStringLiteral("cannot rename %1 to %2: %3")
                               .arg(tempPath, path, temp.errorString()));
    }
    temp.setAutoRemove(false);
    return true;
}

} // namespace korvana
