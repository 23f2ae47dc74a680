// The mappings window driven through its controls: the empty state, the table following the
// store, rename in place, delete with its question, and an export imported again (offscreen).

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "GuiTestMain.h"
#include "MappingsWindow.h"
#include "addressbook/ContactKeys.h"
#include "mapping/SavedMapping.h"
#include "mappingstore/MappingStore.h"

using namespace pelkora;
using namespace pelkora::gui;

namespace {

QStringList titles(const QTableWidget& table) {
    QStringList shown;
    for (int row = 0; row < table.rowCount(); ++row) shown << table.item(row, 0)->text();
    return shown;
}

// Clicks the button of the box shown now that has the text.
bool answer(MappingsWindow& window, const QString& button) {
    QMessageBox* box = window.messageBox();
    if (!box) return false;
    for (QAbstractButton* candidate : box->buttons()) {
        if (candidate->text() == button) {
            candidate->click();
            return true;
        }
    }
    return false;
}

}  // namespace

class MappingsWindowTest final : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        local_ = std::make_unique<SavedMappingStore>(path("SavedMappings"));
        store_ = std::make_unique<MappingStore>(*local_);
        window_ = std::make_unique<MappingsWindow>(*store_);
        window_->show();
    }

    void cleanup() {
        window_.reset();
        store_.reset();
        local_.reset();
        folder_.reset();
    }

    void showsTheEmptyStateThenFollowsTheStore() {
        QVERIFY(window_->emptyLabel()->isVisible());
        QCOMPARE(window_->emptyLabel()->text(), QStringLiteral("No saved mappings."));
        QVERIFY(!window_->exportButton()->isEnabled());
        QVERIFY(!window_->deleteButton()->isEnabled());
        save("shop", MappingMode::byName);
        save("Bank", MappingMode::byPosition);
        QVERIFY(window_->table()->isVisible());
        QCOMPARE(titles(*window_->table()), (QStringList{"Bank", "shop"}));
        QCOMPARE(window_->table()->item(0, 1)->text(), QStringLiteral("By Position"));
        QCOMPARE(window_->table()->item(1, 1)->text(), QStringLiteral("By Name"));
        window_->table()->selectRow(1);
        QVERIFY(window_->exportButton()->isEnabled());
        QVERIFY(window_->deleteButton()->isEnabled());
    }

    void renamesInPlaceAndRefusesAnEmptyTitle() {
        save("Bank", MappingMode::byPosition);
        save("Shop", MappingMode::byName);
        window_->table()->item(0, 0)->setText(QStringLiteral("Yearly bank"));
        QTRY_COMPARE(titles(*window_->table()), (QStringList{"Shop", "Yearly bank"}));
        QCOMPARE(QString::fromStdString(SavedMappingStore(local_->file()).mappings()[1].title),
                 QStringLiteral("Yearly bank"));
        window_->table()->item(0, 0)->setText(QStringLiteral("  "));
        QTRY_VERIFY(window_->messageBox() != nullptr);
        QVERIFY(answer(*window_, QStringLiteral("OK")));
        QTRY_COMPARE(titles(*window_->table()), (QStringList{"Shop", "Yearly bank"}));
    }

    void deletesAfterTheQuestionAndImportsAnExportAgain() {
        save("Bank", MappingMode::byPosition);
        save("Club", MappingMode::byName);
        save("Shop", MappingMode::byName);
        window_->table()->selectRow(0);
        window_->table()->selectionModel()->select(
            window_->table()->model()->index(2, 0),
            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QString exported = QString::fromStdString(path("2 Mappings.zubmapping").string());
        QVERIFY(window_->exportSelection(exported));

        // Cancel keeps them; Delete takes both.
        window_->confirmDelete();
        QVERIFY(answer(*window_, QStringLiteral("Cancel")));
        QCOMPARE(titles(*window_->table()).size(), 3);
        window_->confirmDelete();
        QCOMPARE(window_->messageBox()->text(),
                 QStringLiteral("Do you really want to delete the selected mappings?"));
        QVERIFY(answer(*window_, QStringLiteral("Delete")));
        QCOMPARE(titles(*window_->table()), QStringList{"Club"});
        QCOMPARE(SavedMappingStore(local_->file()).mappings().size(), std::size_t{1});

        // The exported file brings them back, selected.
        QVERIFY(window_->importFrom(exported));
        QCOMPARE(titles(*window_->table()), (QStringList{"Bank", "Club", "Shop"}));
        QCOMPARE(window_->selectedRows(), (std::vector<std::size_t>{0, 2}));

        // A file of another kind is named in the alert, and nothing changes.
        std::ofstream(path("notes.zubmapping")) << "not a mapping";
        QVERIFY(!window_->importFrom(QString::fromStdString(path("notes.zubmapping").string())));
        QVERIFY(
            window_->messageBox()->informativeText().contains(QStringLiteral("notes.zubmapping")));
        QVERIFY(answer(*window_, QStringLiteral("OK")));
        QCOMPARE(titles(*window_->table()).size(), 3);
    }

  private:
    std::filesystem::path path(const std::string& name) const {
        return std::filesystem::path(folder_->path().toStdString()) / name;
    }
    void save(std::string title, MappingMode mode) {
        SavedMapping made;
        made.title = std::move(title);
        made.mappingMode = mode;
        MappedContactProperty entry;
        entry.sourceFieldName = "Mobil";
        entry.contactProperty =
            SuggestedContactProperty::target(contacts::ContactKey::phoneNumbers);
        made.mappedContactProperties = {entry};
        QVERIFY(store_->save(made));
    }

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<SavedMappingStore> local_;
    std::unique_ptr<MappingStore> store_;
    std::unique_ptr<MappingsWindow> window_;
};

int main(int argc, char* argv[]) {
    return pelkora::gui::test::runWidgetTests<MappingsWindowTest>(argc, argv);
}

#include "MappingsWindowTest.moc"
