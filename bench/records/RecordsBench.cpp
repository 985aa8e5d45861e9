// Timings of the claim tables as they grow, each beside SQLite alone doing the
// same work on the same rows in the same run, for bench/records/compare.sh:
//   make N     - the six tables with N rows in Tevrak, Tevrak2, Expense and Expense2
//   export     - the Transfer's export of every unsent row of both tables (all N)
//   save       - Save on tab 3 and on tab 4, from the click to "Save Complete"
//   search     - tab 3's three searches and the enquiry's search, from the click
//                to the grid painted with its first rows
//   startup    - the main window created and shown
// TEVRAK_ROOT must name a scratch drive C: folder. Lines "name ours_ms floor_ms".

#include "archive/ArchivePage.h"
#include "mainwindow/PictureU.h"
#include "platform/core/ProgramValues.h"
#include "mainwindow/SharedForms.h"
#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "records/tables/ClaimDatabase.h"
#include "records/tables/EmptyTables.h"
#include "records/forms/EnquiryU.h"
#include "records/forms/ExpensePage.h"
#include "records/forms/PendingCarPage.h"
#include "records/tables/SearchTexts.h"
#include "transfer/job/TransferJob.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <random>
#include <sqlite3.h>

using namespace tevrak;

namespace {

QElapsedTimer clock_;
qint64 savedAtNs = 0;

class BenchDialogs final : public platform::Dialogs {
public:
    std::function<void(QWidget&)> modal;
    void showMessage(const platform::Message& message) override
    {
        if (message.text == QLatin1String("Save Complete"))
            savedAtNs = clock_.nsecsElapsed();
        else
            std::fprintf(stderr, "message: %s\n", message.text.toUtf8().constData());
    }
    int showModal(QWidget& form) override
    {
        if (modal)
            modal(form);
        return 0;
    }
    void openDocument(const QString&, const QString&) override {}
};

QString database()
{
    return platform::localPath(platform::paths::database);
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

void report(const char* name, double ours, double floor)
{
    std::printf("%s %.2f %.2f\n", name, ours, floor);
    std::fflush(stdout);
}

sqlite3* openFile(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
        qFatal("cannot open %s", qPrintable(path));
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    return db;
}

void run(sqlite3* db, const QString& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK)
        qFatal("%s: %s", qPrintable(sql), error);
}

// N rows, one claim in a hundred finished. Claim numbers are notification
// numbers: they come roughly in the order the rows are saved, a few days'
// claims mixed (shuffled within runs of 200); TEVRAK_BENCH_SHUFFLED=1 shuffles
// them all (the worst case: every row in claim order is elsewhere in the file).
void fill(sqlite3* db, const QString& table, int rows, bool expense)
{
    std::vector<int> claims(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i)
        claims[size_t(i)] = i;
    std::mt19937 random(42);
    const int mixed = qEnvironmentVariableIntValue("TEVRAK_BENCH_SHUFFLED") ? rows : 200;
    for (int start = 0; start < rows; start += mixed)
        std::shuffle(claims.begin() + start, claims.begin() + qMin(rows, start + mixed), random);
    run(db, QStringLiteral("BEGIN"));
    const QString sql =
        expense
            ? QStringLiteral("INSERT INTO \"%1\" (Claimno, Seq, Typ, SurvDate, From1, To1, Distance1, Rate, "
                             "Total_Dis, Distance, Total, Userid, Send, Sysdate) VALUES (?1, 1, '1', "
                             "'2024-03-01', 'Hat Yai', 'Songkhla', 30, 3, 30, 90, 90, 'wichai', 0, "
                             "'2024-03-05')")
                  .arg(table)
            : QStringLiteral("INSERT INTO \"%1\" (Claimno, Seq, Garage, Brand, Regno, Status, GarageDate, "
                             "ReportDate, Send) VALUES (?1, 1, 'Garage', 'Toyota', 'AB 1234', ?2, "
                             "'2024-03-01', '2024-03-05', 0)")
                  .arg(table);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &insert, nullptr);
    const QByteArray waiting = QStringLiteral("รออะไหล่").toUtf8();
    const QByteArray finished = QStringLiteral("ซ่อมเสร็จ").toUtf8();
    for (const int claim : claims) {
        const QByteArray number = QStringLiteral("%1").arg(claim, 8, 10, QLatin1Char('0')).toLatin1();
        sqlite3_bind_text(insert, 1, number.constData(), -1, SQLITE_TRANSIENT);
        if (!expense) {
            const QByteArray& status = claim % 100 == 7 ? finished : waiting;
            sqlite3_bind_text(insert, 2, status.constData(), -1, SQLITE_TRANSIENT);
        }
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    run(db, QStringLiteral("COMMIT"));
}

int make(int rows)
{
    QDir(database()).removeRecursively();
    records::createEmptyTables(database());
    for (const char* name : {"C:\\picture\\Transfer", "C:\\LOAD"})
        QDir().mkpath(platform::localPath(QLatin1String(name)));
    for (const auto& [table, expense] : {std::pair{"Tevrak", false}, std::pair{"Tevrak2", false},
                                         std::pair{"Expense", true}, std::pair{"Expense2", true}}) {
        sqlite3* db = openFile(database() + QLatin1Char('/') + QLatin1String(table) + QStringLiteral(".DB"));
        fill(db, QLatin1String(table), rows, expense);
        sqlite3_close(db);
    }
    sqlite3* users = openFile(database() + QStringLiteral("/USER.db"));
    run(users, QStringLiteral("INSERT INTO USER (USERID) VALUES ('wichai')"));
    sqlite3_close(users);
    records::ClaimDatabase db; // the .PX files written in step with the rows
    db.openForStartUp();
    db.Tevrak2T.open();
    return 0;
}

// SQLite alone copying the unsent rows of both tables into fresh files.
qint64 exportFloor()
{
    const QString scratch = QDir::temp().filePath(QStringLiteral("tevrak-records-bench-floor"));
    QDir(scratch).removeRecursively();
    QDir().mkpath(scratch);
    QElapsedTimer timer;
    timer.start();
    for (const records::TableSchema* table : {&records::tables::tevrak2(), &records::tables::expense2()}) {
        sqlite3* db = openFile(scratch + QLatin1Char('/') + table->fileName);
        for (const QString& statement : table->createStatements())
            run(db, statement);
        const QString source =
            table == &records::tables::tevrak2() ? QStringLiteral("Tevrak") : QStringLiteral("Expense");
        run(db, QStringLiteral("ATTACH '%1/%2.DB' AS src").arg(database(), source));
        run(db,
            QStringLiteral("INSERT INTO \"%1\" SELECT * FROM src.\"%2\" WHERE send='0' ORDER BY Claimno, Seq")
                .arg(table->name, source));
        sqlite3_close(db);
    }
    const qint64 elapsed = timer.nsecsElapsed();
    QDir(scratch).removeRecursively();
    return elapsed;
}

int exportRows()
{
    records::ClaimDatabase db;
    db.openForStartUp();
    transfer::TransferJob job(db, QString());
    QElapsedTimer timer;
    timer.start();
    job.exportTables();
    const qint64 ours = timer.nsecsElapsed();
    report("export", ms(ours), ms(exportFloor()));
    return 0;
}

// SQLite alone storing one row into the same table file.
qint64 saveFloor(const char* table, int seq)
{
    // A claim number of its own in each run of the benchmark.
    static const QString claim =
        QStringLiteral("F%1").arg(QCoreApplication::applicationPid() % 10000000, 7, 10, QLatin1Char('0'));
    sqlite3* db = openFile(database() + QLatin1Char('/') + QLatin1String(table) + QStringLiteral(".DB"));
    QElapsedTimer timer;
    timer.start();
    run(db, QStringLiteral("INSERT INTO \"%1\" (Claimno, Seq, Send) VALUES ('%2', %3, 0)")
                .arg(table, claim)
                .arg(seq));
    const qint64 elapsed = timer.nsecsElapsed();
    sqlite3_close(db);
    return elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename T> T* control(QWidget* tab, const char* name)
{
    auto* found = tab->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

int save(int rounds)
{
    records::ClaimDatabase db;
    db.openForStartUp();
    db.UserT.open();
    SharedForms forms;
    QWidget window;
    auto* pendingTab = new QWidget(&window);
    auto* expenseTab = new QWidget(&window);
    auto* pending = new records::PendingCarPage(pendingTab, db);
    auto* expense = new records::ExpensePage(expenseTab, db, forms);
    (void)pending;
    (void)expense;
    window.show();
    QApplication::processEvents();
    std::vector<double> ours3, ours4, floor3, floor4;
    for (int round = 0; round < rounds; ++round) {
        const QString claim = QStringLiteral("%1").arg(50000 + round, 8, 10, QLatin1Char('0'));
        control<QPushButton>(pendingTab, "BitBtn5")->click();
        control<QLineEdit>(pendingTab, "DBEdit1")->setText(claim);
        control<platform::DateBox>(pendingTab, "DBDateEdit2")->setDate(QDate::currentDate().addDays(-3));
        control<QLineEdit>(pendingTab, "DBEdit2")->setText(QStringLiteral("Toyota"));
        control<QLineEdit>(pendingTab, "DBEdit3")->setText(QStringLiteral("AB 1234"));
        control<QLineEdit>(pendingTab, "DBEdit4")->setText(QStringLiteral("Garage"));
        control<QComboBox>(pendingTab, "DBLookupComboBox1")->setCurrentIndex(0);
        QApplication::processEvents();
        qint64 start = clock_.nsecsElapsed();
        control<QPushButton>(pendingTab, "BitBtn6")->click();
        ours3.push_back(ms(savedAtNs - start));

        control<QPushButton>(expenseTab, "BitBtn10")->click();
        control<QComboBox>(expenseTab, "DBLookupComboBox2")->setCurrentIndex(0);
        control<QLineEdit>(expenseTab, "DBEdit6")->setText(claim);
        control<platform::DateBox>(expenseTab, "DBDateEdit1")->setDate(QDate::currentDate());
        control<QLineEdit>(expenseTab, "DBEdit10")->setText(QStringLiteral("12"));
        QApplication::processEvents();
        start = clock_.nsecsElapsed();
        control<QPushButton>(expenseTab, "BitBtn11")->click();
        ours4.push_back(ms(savedAtNs - start));
        QApplication::processEvents();
    }
    // The floor's rows come after ours: another connection's row makes the
    // program count the table again at its next Save, which a clerk's Saves never meet.
    for (int round = 0; round < rounds; ++round) {
        floor3.push_back(ms(saveFloor("Tevrak", 100 + round)));
        floor4.push_back(ms(saveFloor("Expense", 100 + round)));
    }
    report("save_tab3", median(ours3), median(floor3));
    report("save_tab4", median(ours4), median(floor4));
    return 0;
}

// SQLite alone running the same text to its first 50 rows.
qint64 searchFloor(const QString& sql, const QString& param)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr);
    run(db, QStringLiteral("ATTACH '%1/Tevrak.DB' AS t; ATTACH '%1/Expense.DB' AS e").arg(database()));
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr);
    const QByteArray value = param.toUtf8();
    if (sqlite3_bind_parameter_count(statement) > 0)
        sqlite3_bind_text(statement, 1, value.constData(), -1, SQLITE_TRANSIENT);
    for (int row = 0; row < 50 && sqlite3_step(statement) == SQLITE_ROW; ++row)
        for (int column = 0; column < sqlite3_column_count(statement); ++column)
            sqlite3_column_text(statement, column);
    sqlite3_finalize(statement);
    const qint64 elapsed = timer.nsecsElapsed();
    sqlite3_close(db);
    return elapsed;
}

// From the click to the grid painted with its first rows.
double searchTime(QTableView* grid, const std::function<void()>& click)
{
    const qint64 start = clock_.nsecsElapsed();
    click();
    grid->model()->index(0, 0).data();
    grid->viewport()->repaint();
    return ms(clock_.nsecsElapsed() - start);
}

int search(int rounds)
{
    records::ClaimDatabase db;
    db.openForStartUp();
    QWidget window;
    window.resize(900, 700);
    auto* tab = new QWidget(&window);
    tab->resize(900, 700);
    auto* page = new records::PendingCarPage(tab, db);
    page->resetToToday();
    window.show();
    QApplication::processEvents();
    auto* grid = control<QTableView>(tab, "DBGrid1");
    const QStringList order{QStringLiteral("ORDER BY Claimno, Seq")};
    struct Search {
        const char* name;
        std::function<void()> choose;
        QString floorSql;
        QString param;
    };
    // The finished claims as the pending search lists them.
    QStringList finished;
    for (int claim = 7; claim < 100000; claim += 100)
        finished << QStringLiteral("%1").arg(claim, 8, 10, QLatin1Char('0'));
    const QList<Search> searches{
        {"search_pending",
         [&] { control<QRadioButton>(tab, "C0")->click(); },
         records::search::pendingCars(finished).join(QLatin1Char('\n')) +
             QStringLiteral(" ORDER BY Claimno, Seq"),
         {}},
        {"search_date",
         [&] {
             control<platform::DateBox>(tab, "DateEdit1")->setDate(QDate(2024, 3, 5));
             control<QRadioButton>(tab, "C1")->click();
         },
         records::search::byReportDate()
                 .join(QLatin1Char('\n'))
                 .replace(QLatin1String(":prm"), QLatin1String("?1")) +
             QStringLiteral(" ORDER BY Claimno, Seq"),
         QStringLiteral("2024-03-05")},
        {"search_claim",
         [&] {
             control<QLineEdit>(tab, "Edit2")->setText(QStringLiteral("00004242"));
             control<QRadioButton>(tab, "C2")->click();
         },
         records::search::byClaimNumber()
                 .join(QLatin1Char('\n'))
                 .replace(QLatin1String(":prm"), QLatin1String("?1")) +
             QStringLiteral(" ORDER BY Claimno, Seq"),
         QStringLiteral("00004242")},
    };
    for (const Search& s : searches) {
        s.choose();
        std::vector<double> ours, floor;
        for (int round = 0; round < rounds; ++round) {
            ours.push_back(searchTime(grid, [&] { control<QPushButton>(tab, "BitBtn9")->click(); }));
            floor.push_back(ms(searchFloor(s.floorSql, s.param)));
        }
        report(s.name, median(ours), median(floor));
    }
    // Scrolling to the end of the pending cars.
    control<QRadioButton>(tab, "C0")->click();
    control<QPushButton>(tab, "BitBtn9")->click();
    std::vector<double> scroll;
    for (int round = 0; round < rounds; ++round) {
        grid->scrollToTop();
        grid->viewport()->repaint();
        const qint64 start = clock_.nsecsElapsed();
        grid->scrollToBottom();
        grid->viewport()->repaint();
        scroll.push_back(ms(clock_.nsecsElapsed() - start));
    }
    report("scroll_to_end", median(scroll), 0);

    // The enquiry's search.
    BenchDialogs& dialogs = static_cast<BenchDialogs&>(platform::dialogs());
    TEnquiry enquiry;
    std::vector<double> ours, floor;
    dialogs.modal = [&](QWidget&) {
        enquiry.show();
        for (int round = 0; round < rounds; ++round) {
            enquiry.Edit1->setText(QStringLiteral("00004242"));
            ours.push_back(searchTime(enquiry.DBGrid1, [&] { enquiry.BitBtn1Click(); }));
            floor.push_back(ms(searchFloor(records::search::expensesOfClaim()
                                                   .join(QLatin1Char('\n'))
                                                   .replace(QLatin1String(":prm"), QLatin1String("?1")) +
                                               QStringLiteral(" ORDER BY Claimno, Seq"),
                                           QStringLiteral("00004242"))));
        }
    };
    enquiry.showFor(db);
    report("search_enquiry", median(ours), median(floor));
    return 0;
}

int startup()
{
    SharedForms forms;
    const qint64 start = clock_.nsecsElapsed();
    TPicture window(forms);
    window.show();
    QApplication::processEvents();
    const qint64 ours = clock_.nsecsElapsed() - start;
    // SQLite alone opening the six files and reading each table's first rows.
    QElapsedTimer timer;
    timer.start();
    for (const records::TableSchema* table : records::tables::all()) {
        sqlite3* db = openFile(database() + QLatin1Char('/') + table->fileName);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(
            db, QStringLiteral("SELECT * FROM \"%1\" LIMIT 50").arg(table->name).toUtf8().constData(), -1,
            &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    report("startup", ms(ours), ms(timer.nsecsElapsed()));
    return 0;
}

// Tab 2 with N claim folders in c:\picture: the folder list shown, and the
// eighth character of a claim number typed. Floor: reading the folder's names.
int folders(int count, int rounds)
{
    const QString inbox = platform::localPath(platform::paths::inbox);
    QDir().mkpath(inbox);
    if (QDir(inbox).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() != count)
        for (int i = 0; i < count; ++i)
            QDir().mkpath(inbox + QStringLiteral("/%1").arg(10000000 + i * 7));
    QWidget window;
    window.resize(900, 700);
    auto* tab = new QWidget(&window);
    tab->resize(900, 700);
    auto* page = new archive::ArchivePage(tab);
    window.show();
    QApplication::processEvents();
    auto* list = control<QListWidget>(tab, "ListBox2");
    auto* edit = control<QLineEdit>(tab, "Edit6");
    std::vector<double> shown, found, floorList;
    for (int round = 0; round < rounds; ++round) {
        qint64 start = clock_.nsecsElapsed();
        page->TabSheet2Show();
        list->viewport()->repaint();
        shown.push_back(ms(clock_.nsecsElapsed() - start));
        const QString claim = QString::number(10000000 + (count / 2) * 7);
        edit->setText(claim.left(7));
        start = clock_.nsecsElapsed();
        edit->insert(claim.right(1));
        found.push_back(ms(clock_.nsecsElapsed() - start));
        edit->clear();
        QElapsedTimer timer;
        timer.start();
        QStringList names;
        if (DIR* dir = ::opendir(QFile::encodeName(inbox).constData())) {
            while (const dirent* entry = ::readdir(dir))
                if (entry->d_type == DT_DIR && entry->d_name[0] != '.')
                    names << QString::fromLocal8Bit(entry->d_name);
            ::closedir(dir);
        }
        names.sort();
        floorList.push_back(ms(timer.nsecsElapsed()));
    }
    report("folder_list", median(shown), median(floorList));
    report("claim_8th_char", median(found), 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    clock_.start();
    BenchDialogs dialogs;
    platform::setDialogs(&dialogs);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const int rounds = qMax(1, args.value(2, QStringLiteral("5")).toInt());
    if (mode == QLatin1String("make"))
        return make(args.value(2).toInt());
    if (mode == QLatin1String("export"))
        return exportRows();
    if (mode == QLatin1String("save"))
        return save(rounds);
    if (mode == QLatin1String("search"))
        return search(rounds);
    if (mode == QLatin1String("startup"))
        return startup();
    if (mode == QLatin1String("folders"))
        return folders(args.value(2).toInt(), qMax(1, args.value(3, QStringLiteral("5")).toInt()));
    std::fprintf(
        stderr,
        "usage: %s make N | export | save [rounds] | search [rounds] | startup | folders N [rounds]\n",
        argv[0]);
    return 2;
}
