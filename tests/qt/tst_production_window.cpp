// The Production window on an emulated programmer: a board's job planned against the main window's
// part and run on it to its end, a job file's refusal as it reads, and a close during a run.
#include <kt62/apiKT6200.h>

#include <QtTest>
#include <QtWidgets>

#include "frontends/qt/desktop.h"
#include "tests/support/temp_dir.h"

namespace {

// The shape of the worked example's job (boot units A and B, system code, enhanced, the rest
// normal), sized for a 1 GiB part of 1 MiB allocation units.
constexpr const char* kJob = R"(verify = "read-back"
boot_lun_en = "A"

[expect]
manufacturer_id = 0x0A5A
ufs_min = "2.1"

[[unit]]
lun = 0
size = "rest"

[[unit]]
lun = 1
size = "2MiB"
boot = "A"

[[unit]]
lun = 2
size = "2MiB"
boot = "B"

[[unit]]
lun = 3
size = "8MiB"
memory = "system-code"

[[unit]]
lun = 4
size = "4MiB"
memory = "enhanced1"

[[image]]
file = "boot_a.img"
lun = 1

[[image]]
file = "system.img"
lun = 3
start_sector = 2
)";

}  // namespace

class TestProductionWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<kt::test::TempDir> dir_;
    std::unique_ptr<kt::qt::Desktop> desktop_;

    kt::qt::ProductionWindow& Start() {
        dir_ = std::make_unique<kt::test::TempDir>();
        const char* profile = R"({"programmers": [{"ufs": {"spec_version": "3.1",
            "raw_capacity_bytes": 1073741824, "segment_size_bytes": 1048576, "serial_number": "SN-1"}}]})";
        setenv("KT62_EMULATOR", dir_->Write("profile.json", profile).c_str(), 1);
        dir_->Write("boot_a.img", std::string(256 * 1024, 'a'));
        dir_->Write("system.img", std::string(3 * 1024 * 1024 + 4096, 's'));
        desktop_ = std::make_unique<kt::qt::Desktop>(dir_->Path() + "/bin/kt6200");
        desktop_->Start();
        return desktop_->OpenProductionWindow();
    }

private slots:
    void cleanup() {
        const KT62_HANDLE h = desktop_ ? desktop_->Logic().DeviceHandle() : KT62_INVALID_HANDLE;
        desktop_.reset();
        if (h != KT62_INVALID_HANDLE) kt62Close(h);
    }

    void aBoardJobIsPlannedAndRunOnTheOpenProgrammer() {
        kt::qt::ProductionWindow& window = Start();
        window.OpenJob(dir_->Write("board.toml", kJob));
        QVERIFY2(window.Messages().contains("Planned against the part in Dev0: UFS 3.1"),
                 qPrintable(window.Messages()));
        const QTableWidget* table = window.PlanTable();
        // unit, boot, asked, alloc units: the emulated part's enhanced memory costs three times its size.
        const QStringList rows[] = {{"0", "-", "rest", "1000"},
                                    {"1", "A", "2 MiB", "2"},
                                    {"2", "B", "2 MiB", "2"},
                                    {"3", "-", "8 MiB", "8"},
                                    {"4", "-", "4 MiB", "12"}};
        QCOMPARE(table->rowCount(), 5);
        for (int r = 0; r < 5; ++r) {
            const int columns[] = {0, 2, 3, 4};
            for (int c = 0; c < 4; ++c) QCOMPARE(table->item(r, columns[c])->text(), rows[r][c]);
        }
        QCOMPARE(table->item(3, 6)->text(), QStringLiteral("2048 x 4 KiB"));
        QVERIFY(window.ConfigurationBytes().startsWith("E6 01 "));
        QVERIFY(!window.ConfirmLock()->isVisibleTo(&window));

        QVERIFY(window.StartRun(false));
        // The run holds the main window's programmer and gives it back at its end.
        QCOMPARE(desktop_->Logic().DeviceHandle(), KT62_INVALID_HANDLE);
        QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 60000);
        QCOMPARE(window.Bar(0)->value(), window.Bar(0)->maximum());
        QVERIFY2(window.Status(0)->text().startsWith("Done: "), qPrintable(window.Status(0)->text()));
        QVERIFY(desktop_->Logic().DeviceHandle() != KT62_INVALID_HANDLE);
        const std::string report = kt::test::TempDir::Read(window.ReportPath()->text().toStdString());
        QCOMPARE(window.ReportPath()->text(), QString::fromStdString(dir_->Path() + "/board-report.jsonl"));
        QCOMPARE(std::count(report.begin(), report.end(), '\n'), 1);
        QVERIFY(report.find(R"("serial":"SN-1")") != std::string::npos);
    }

    // Refusals as the job file reader words them; a lock shows its confirmation.
    void aJobIsRefusedAtItsPlace() {
        kt::qt::ProductionWindow& window = Start();
        const std::string path = dir_->Write("bad.toml", "verify = \"read-back\"\nbogus = 1\n");
        window.OpenJob(path);
        QVERIFY2(window.Messages().startsWith(QString::fromStdString(path + ":2:1: ")),
                 qPrintable(window.Messages()));
        QCOMPARE(window.PlanTable()->rowCount(), 0);
        QVERIFY(!window.StartRun(true));
        window.OpenJob(dir_->Write("lock.toml", std::string("lock_configuration = true\n") + kJob));
        QVERIFY(window.ConfirmLock()->isVisibleTo(&window));
        QVERIFY(!window.StartRun(true));  // not confirmed
        QVERIFY(desktop_->Logic().DeviceHandle() != KT62_INVALID_HANDLE);
    }

    // A close during a run stops it and waits for its end.
    void aCloseStopsTheRunFirst() {
        kt::qt::ProductionWindow& window = Start();
        window.OpenJob(dir_->Write("board.toml", kJob));
        QVERIFY(window.StartRun(true));
        window.close();
        QVERIFY(window.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 60000);
        QVERIFY(!window.Running());
        QCOMPARE(window.Records().size(), std::size_t{1});
    }
};

QTEST_MAIN(TestProductionWindow)
#include "tst_production_window.moc"
