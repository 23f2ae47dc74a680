#include "MappingOptionsSheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "FieldMappingPageWidget.h"
#include "MainWindow.h"
#include "WarningBox.h"
#include "session/FieldMappingPage.h"
#include "session/ImportSession.h"
#include "support/Settings.h"

namespace pelkora::gui {
namespace {

const char* const kMappingMenuName = "MappingMenu";

// The field-mapping page the window shows; null on the other pages.
FieldMappingPageWidget* shownMappingPage(MainWindow& window) {
    return qobject_cast<FieldMappingPageWidget*>(window.currentPageWidget());
}

QCheckBox* settingBox(const QString& title, const QString& name, bool checked, QWidget* parent) {
    auto* box = new QCheckBox(title, parent);
    box->setAccessibleName(name);
    box->setChecked(checked);
    return box;
}

void confirmClearMapping(MainWindow& window, ImportSession& session, FieldMappingPage& page) {
    const auto [heading, text] = FieldMappingPage::clearMappingConfirmation();
    QMessageBox* box =
        makeWarningBox(&window, QString::fromStdString(heading), QString::fromStdString(text));
    auto* clear = box->addButton(MappingOptionsSheet::tr("Continue"), QMessageBox::AcceptRole);
    clear->setAccessibleName(MappingOptionsSheet::tr("Continue"));
    box->addButton(QMessageBox::Cancel)->setAccessibleName(MappingOptionsSheet::tr("Cancel"));
    box->setDefaultButton(QMessageBox::Cancel);
    // The page may go away while the box is up (the window hides the old page's widget at
    // once): only the page it was asked for is cleared, while it is shown.
    QPointer<FieldMappingPageWidget> shown = shownMappingPage(window);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [&session, &page, shown, clear](QAbstractButton* clicked) {
                         if (clicked == clear && shown && shown->isVisible())
                             page.clearMapping(session);
                     });
    box->open();
}

}  // namespace

MappingOptionsSheet::MappingOptionsSheet(ImportSession& session, FieldMappingPage& page,
                                         QWidget* parent)
    : QDialog(parent), session_(session), page_(page) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Map with Options"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(10);
    auto* heading = new QLabel(tr("Map the columns again with these options:"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    const auto& settings = session.settings();
    detectCustomLabels_ = settingBox(tr("&Detect custom labels in column titles"),
                                     tr("Detect custom labels in column titles"),
                                     settings.boolForKey(SettingKey::DetectCustomLabels), this);
    detectCustomLabels_->setToolTip(tr("A title such as “Phone (car)” gives the label “Car”."));
    ignoreCustomMappings_ =
        settingBox(tr("&Ignore my own assignments"), tr("Ignore my own assignments"),
                   settings.boolForKey(SettingKey::IgnoreCustomMappings), this);
    ignoreCustomMappings_->setToolTip(
        tr("Map every column from its title alone, not as you assigned that title before."));
    appendUnmappedFields_ = settingBox(
        tr("&Add unassigned columns to the note"), tr("Add unassigned columns to the note"),
        settings.boolForKey(SettingKey::AppendUnmappedFieldsToNotes), this);

    auto* buttons = new QDialogButtonBox(this);
    map_ = buttons->addButton(tr("&Map"), QDialogButtonBox::AcceptRole);
    map_->setAccessibleName(tr("Map"));
    map_->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setAccessibleName(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &MappingOptionsSheet::storeAndMap);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    layout->addWidget(heading);
    layout->addWidget(detectCustomLabels_);
    layout->addWidget(ignoreCustomMappings_);
    layout->addWidget(appendUnmappedFields_);
    layout->addWidget(buttons);
    setFocusProxy(detectCustomLabels_);
}

void MappingOptionsSheet::storeAndMap() {
    auto& settings = session_.settings();
    settings.set(SettingKey::DetectCustomLabels, PropertyValue(detectCustomLabels_->isChecked()));
    settings.set(SettingKey::IgnoreCustomMappings,
                 PropertyValue(ignoreCustomMappings_->isChecked()));
    settings.set(SettingKey::AppendUnmappedFieldsToNotes,
                 PropertyValue(appendUnmappedFields_->isChecked()));
    page_.mapFields(session_);
    accept();
}

SaveMappingSheet::SaveMappingSheet(ImportSession& session, FieldMappingPage& page, QWidget* parent)
    : QDialog(parent), session_(session), page_(page) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Save Mapping"));
    auto* heading =
        new QLabel(tr("Save the mapping of these columns for files like this one."), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    auto* text = new QLabel(tr("It is kept under this title in File ▸ Saved Mappings and "
                               "offered in Mapping ▸ Apply Saved Mapping."),
                            this);
    text->setWordWrap(true);
    title_ = new QLineEdit(QString::fromStdString(page.proposedSaveTitle(session)), this);
    title_->setAccessibleName(tr("Title of the mapping"));
    title_->selectAll();
    auto* buttons = new QDialogButtonBox(this);
    save_ = buttons->addButton(tr("&Save"), QDialogButtonBox::AcceptRole);
    save_->setAccessibleName(tr("Save"));
    save_->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setAccessibleName(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SaveMappingSheet::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(title_, &QLineEdit::textChanged, this,
            [this](const QString& title) { save_->setEnabled(!title.trimmed().isEmpty()); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(10);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addWidget(title_);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void SaveMappingSheet::save() {
    const std::string title = title_->text().trimmed().toStdString();
    if (auto saved = page_.saveMapping(session_, title); !saved) {
        openWarning(parentWidget(), tr("The mapping could not be saved."),
                    QString::fromStdString(saved.error()));
    }
    accept();
}

QMenu* addMappingMenu(MainWindow& window, ImportSession& session) {
    auto* menu = window.menuBar()->addMenu(MappingOptionsSheet::tr("&Mapping"));
    menu->setObjectName(kMappingMenuName);
    menu->setEnabled(false);
    auto* mapWithOptions = menu->addAction(MappingOptionsSheet::tr("Map with &Options…"));
    QObject::connect(mapWithOptions, &QAction::triggered, &window, [&window, &session] {
        auto* shown = shownMappingPage(window);
        if (!shown) return;
        auto* sheet = new MappingOptionsSheet(session, shown->page(), &window);
        // The sheet maps with the page it was opened for, and goes with it.
        QObject::connect(shown, &QObject::destroyed, sheet, &QDialog::reject);
        sheet->open();
    });
    menu->addSeparator();
    auto* save = menu->addAction(MappingOptionsSheet::tr("&Save Mapping…"));
    save->setShortcut(QKeySequence::Save);
    QObject::connect(save, &QAction::triggered, &window, [&window, &session] {
        auto* shown = shownMappingPage(window);
        if (!shown) return;
        auto* sheet = new SaveMappingSheet(session, shown->page(), &window);
        QObject::connect(shown, &QObject::destroyed, sheet, &QDialog::reject);
        sheet->open();
    });
    auto* apply = menu->addMenu(MappingOptionsSheet::tr("&Apply Saved Mapping"));
    apply->setObjectName(QStringLiteral("ApplySavedMappingMenu"));
    QObject::connect(apply, &QMenu::aboutToShow, apply, [&window, &session, apply] {
        apply->clear();
        auto* shown = shownMappingPage(window);
        if (!shown) return;
        const auto items = shown->page().savedMappingsMenu(session);
        if (items.empty()) {
            apply->addAction(MappingOptionsSheet::tr("No Saved Mappings"))->setEnabled(false);
            return;
        }
        for (const SavedMappingMenuItem& item : items) {
            auto* action = apply->addAction(QString::fromStdString(item.title));
            const std::string uuid = item.uuid;
            QObject::connect(action, &QAction::triggered, &window, [&window, &session, uuid] {
                auto* page = shownMappingPage(window);
                if (!page) return;
                page->page().applySavedMapping(session, uuid);
                page->refresh();
            });
        }
    });
    menu->addSeparator();
    auto* clear = menu->addAction(MappingOptionsSheet::tr("&Clear Mapping…"));
    QObject::connect(clear, &QAction::triggered, &window, [&window, &session] {
        if (auto* shown = shownMappingPage(window))
            confirmClearMapping(window, session, shown->page());
    });
    // Nothing to map again or clear while a mapping runs.
    QObject::connect(menu, &QMenu::aboutToShow, menu,
                     [&window, mapWithOptions, clear, save, apply] {
                         auto* shown = shownMappingPage(window);
                         const bool idle = shown && !shown->page().isMapping();
                         mapWithOptions->setEnabled(idle);
                         clear->setEnabled(idle);
                         save->setEnabled(idle);
                         apply->setEnabled(idle);
                     });
    return menu;
}

void enableMappingMenu(MainWindow& window) {
    if (auto* menu = window.menuBar()->findChild<QMenu*>(kMappingMenuName))
        menu->setEnabled(shownMappingPage(window) != nullptr);
}

}  // namespace pelkora::gui
