#include "PreferencesWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "AddStoreSheet.h"
#include "MappingSharing.h"
#include "PaletteColours.h"
#include "ReadOnlyItem.h"
#include "Utf8Text.h"
#include "WarningBox.h"
#include "addressbook/stores/StoreLocation.h"
#include "session/ImportSession.h"
#include "session/SettingsKeys.h"
#include "support/Settings.h"

namespace pelkora::gui {

DateFormatSheet::DateFormatSheet(const DateFormatsPageModel& model, DateFormatDraft draft,
                                 QWidget* parent)
    : QDialog(parent), model_(model), customIndex_(draft.customIndex) {
    setWindowTitle(draft.customIndex ? tr("Edit Date Format") : tr("Add Date Format"));
    setWindowModality(Qt::WindowModal);

    description_ = new QLineEdit(fromUtf8(draft.description), this);
    description_->setPlaceholderText(tr("Optional, for your own reference"));
    description_->setAccessibleName(tr("Description"));
    format_ = new QLineEdit(fromUtf8(draft.format), this);
    format_->setPlaceholderText(tr("for example dd.MM.yyyy"));
    format_->setAccessibleName(tr("Date pattern"));
    locale_ = new QComboBox(this);
    locale_->setAccessibleName(tr("Language of the dates"));
    locale_->addItem(tr("No language"), QString());
    for (const LocaleChoice& choice : DateFormatsPageModel::localeChoices())
        locale_->addItem(fromUtf8(choice.name), fromUtf8(choice.identifier));
    const int chosen =
        draft.localeIdentifier ? locale_->findData(fromUtf8(*draft.localeIdentifier)) : 0;
    locale_->setCurrentIndex(chosen < 0 ? 0 : chosen);
    test_ = new QLineEdit(fromUtf8(draft.testText), this);
    test_->setPlaceholderText(tr("A date as your file writes it"));
    test_->setAccessibleName(tr("Sample date"));
    result_ = new QLabel(this);
    result_->setAccessibleName(tr("Test result"));
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result_->setMinimumWidth(320);

    auto* patternHelp =
        new QLabel(tr("Letters as in ICU date patterns: d day, M month (MMM its name), y year, "
                      "E weekday; text in 'single quotes' is taken as it is."),
                   this);
    patternHelp->setWordWrap(true);
    patternHelp->setEnabled(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    save_ = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    save_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(tr("&Description:"), description_);
    form->addRow(tr("&Pattern:"), format_);
    form->addRow(QString(), patternHelp);
    form->addRow(tr("&Language:"), locale_);
    form->addRow(tr("&Test with:"), test_);
    form->addRow(tr("Result:"), result_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(format_, &QLineEdit::textChanged, this, &DateFormatSheet::runTest);
    connect(test_, &QLineEdit::textChanged, this, &DateFormatSheet::runTest);
    connect(locale_, &QComboBox::currentIndexChanged, this, &DateFormatSheet::runTest);
    runTest();
}

DateFormatDraft DateFormatSheet::draft() const {
    DateFormatDraft draft;
    draft.customIndex = customIndex_;
    draft.description = description_->text().toStdString();
    draft.format = format_->text().toStdString();
    const QString locale = locale_->currentData().toString();
    if (!locale.isEmpty()) draft.localeIdentifier = locale.toStdString();
    draft.testText = test_->text().toStdString();
    return draft;
}

void DateFormatSheet::runTest() {
    save_->setEnabled(!format_->text().trimmed().isEmpty());
    const auto tested = model_.test(draft());
    QPalette palette = result_->palette();
    if (tested) {
        palette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
        result_->setText(fromUtf8(tested->displayText));
    } else {
        if (tested.error() == DateParsingError::unknownLocale) QApplication::beep();
        palette.setColor(QPalette::WindowText, warningColour(QApplication::palette()));
        result_->setText(fromUtf8(errorText(tested.error())));
    }
    result_->setPalette(palette);
}

PreferencesWindow::PreferencesWindow(ImportSession& session, QWidget* parent)
    : QDialog(parent, Qt::Window),
      session_(session),
      dateFormatsModel_(session.mutableCustomDateFormats(), session.commonDateFormats(),
                        session.settings()) {
    setWindowTitle(tr("Preferences"));
    tabs_ = new QTabWidget(this);
    tabs_->addTab(makeGeneralTab(), tr("&General"));
    tabs_->addTab(makeDateFormatsTab(), tr("&Date Formats"));
    tabs_->addTab(makeSyncTab(), tr("&Sync"));
    tabs_->addTab(makeDiagnosticsTab(), tr("D&iagnostics"));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(close);
    resize(760, 720);
}

QWidget* PreferencesWindow::makeGeneralTab() {
    auto* tab = new QWidget(this);
    SettingsStore& settings = session_.settings();
    auto box = [&](std::string_view key, const QString& title, QWidget* parent) {
        auto* check = new QCheckBox(title, parent);
        check->setAccessibleName(check->text().remove(QLatin1Char('&')));
        check->setChecked(settings.boolForKey(key));
        connect(check, &QCheckBox::toggled, this,
                [this, key](bool on) { session_.settings().set(key, PropertyValue(on)); });
        settingBoxes_.emplace_back(key, check);
        return check;
    };

    QWidget* addressBook = makeAddressBookBox(tab);
    auto* reading = new QGroupBox(tr("Reading files"), tab);
    auto* readingLayout = new QVBoxLayout(reading);
    readingLayout->addWidget(box(SettingKey::TrustBOMs,
                                 tr("Skip the &encoding check for text files that name their "
                                    "encoding (byte-order mark)"),
                                 reading));
    readingLayout->addWidget(box(SettingKey::TreatUnknownFileTypesAsText,
                                 tr("Read files of &unknown type as text"), reading));

    auto* mapping = new QGroupBox(tr("Mapping columns"), tab);
    auto* mappingLayout = new QVBoxLayout(mapping);
    mappingLayout->addWidget(box(SettingKey::DetectCustomLabels,
                                 tr("Recognise &labels of your own in column titles"), mapping));
    mappingLayout->addWidget(box(SettingKey::IgnoreCustomMappings,
                                 tr("&Ignore the column titles you mapped by hand before"),
                                 mapping));
    mappingLayout->addWidget(box(SettingKey::ShowExtendedRelevantRelationships,
                                 tr("Offer &more relationship labels (in-laws, step-family…)"),
                                 mapping));
    mappingLayout->addWidget(
        box(SettingKey::ShowMenuIcons, tr("Show icons in the mapping &menus"), mapping));
    companyTerms_ = new QLineEdit(
        fromUtf8(settings.stringForKey(SettingKey::CompanyTerms).value_or(std::string())), mapping);
    companyTerms_->setAccessibleName(tr("Words that mark a company"));
    companyTerms_->setPlaceholderText(tr("Comma-separated, for example Company, Organization"));
    connect(companyTerms_, &QLineEdit::editingFinished, this, [this] {
        session_.settings().set(SettingKey::CompanyTerms,
                                PropertyValue(companyTerms_->text().toStdString()));
    });
    auto* companyRow = new QFormLayout;
    companyRow->addRow(tr("Words that mark a &company:"), companyTerms_);
    mappingLayout->addLayout(companyRow);

    auto* notes = new QGroupBox(tr("Unmapped columns"), tab);
    auto* notesLayout = new QVBoxLayout(notes);
    auto* append = box(SettingKey::AppendUnmappedFieldsToNotes,
                       tr("&Add unmapped columns to the contact's note"), notes);
    notesLayout->addWidget(append);
    std::vector<QCheckBox*> layoutBoxes = {
        box(SettingKey::FieldNameInNotesPrependFieldTitle, tr("Put the column &title first"),
            notes),
        box(SettingKey::FieldNameInNotesAllCaps, tr("Write the title in capitals"), notes),
        box(SettingKey::FieldNameInNotesAddLinefeedAfterFieldTitle,
            tr("Start the value on a new line"), notes),
        box(SettingKey::FieldNameInNotesAddExtraLinefeed, tr("Leave an empty line between columns"),
            notes),
        box(SettingKey::FieldNameInNotesSortByFieldTitle, tr("&Sort the columns by title"), notes)};
    auto* layoutGrid = new QGridLayout;
    layoutGrid->setContentsMargins(24, 0, 0, 0);
    for (std::size_t index = 0; index < layoutBoxes.size(); ++index) {
        layoutGrid->addWidget(layoutBoxes[index], static_cast<int>(index / 2),
                              static_cast<int>(index % 2));
    }
    notesLayout->addLayout(layoutGrid);
    auto follow = [layoutBoxes](bool on) {
        for (QCheckBox* layoutBox : layoutBoxes) layoutBox->setEnabled(on);
    };
    connect(append, &QCheckBox::toggled, this, follow);
    follow(append->isChecked());

    resetWarnings_ = new QPushButton(tr("&Reset Warnings"), tab);
    resetWarnings_->setAccessibleName(tr("Show the hints and warnings you turned off again"));
    connect(resetWarnings_, &QPushButton::clicked, this, [this] {
        resetWarnings(session_.settings());
        resetWarnings_->setText(tr("Warnings Reset"));
        resetWarnings_->setEnabled(false);
        QApplication::beep();
    });
    auto* resetText = new QLabel(
        tr("Shows the mapping hint and the reminder to close other address-book programs "
           "again."),
        tab);
    resetText->setWordWrap(true);
    resetText->setEnabled(false);
    auto* resetRow = new QHBoxLayout;
    resetRow->addWidget(resetWarnings_);
    resetRow->addWidget(resetText, 1);

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(addressBook);
    layout->addWidget(reading);
    layout->addWidget(mapping);
    layout->addWidget(notes);
    layout->addLayout(resetRow);
    layout->addStretch();
    return tab;
}

// The address book: the user's own book, the desktop's address books or a store named with
// "pelkora stores add" (the ContactStore setting, read when Pelkora starts), and the container
// of the book in use that the import page chooses first (SelectedContainerID).
QWidget* PreferencesWindow::makeAddressBookBox(QWidget* parent) {
    auto* box = new QGroupBox(tr("Address book"), parent);
    SettingsStore& settings = session_.settings();
    store_ = new QComboBox(box);
    store_->setAccessibleName(tr("Address book to import into"));
    store_->addItem(tr("Pelkora's own address book"), QString());
    store_->addItem(tr("The desktop's address books (Evolution Data Server)"),
                    QStringLiteral("eds:"));
    if (auto named = NamedStores::load()) {
        for (const auto& [name, uri] : named->stores())
            store_->addItem(tr("%1 (%2)").arg(fromUtf8(name), fromUtf8(uri)), fromUtf8(name));
    }
    const QString chosen =
        fromUtf8(settings.stringForKey(SettingKey::ContactStore).value_or(std::string()));
    if (store_->findData(chosen) < 0) store_->addItem(chosen, chosen);
    store_->setCurrentIndex(store_->findData(chosen));
    connect(store_, &QComboBox::activated, this, [this](int index) {
        const QString value = store_->itemData(index).toString();
        // The window switches at once when it can open the book; without a directory of
        // books the setting is read at the next start.
        if (session_.storeDirectory()) {
            if (auto switched = session_.switchContactStore(value.toStdString()); !switched) {
                openWarning(this, tr("The address book cannot be used."),
                            fromUtf8(switched.error()));
                store_->setCurrentIndex(store_->findData(fromUtf8(session_.contactStoreKey())));
                return;
            }
            fillContainers();
        } else if (value.isEmpty()) {
            session_.settings().removeObject(SettingKey::ContactStore);
        } else {
            session_.settings().set(SettingKey::ContactStore, PropertyValue(value.toStdString()));
        }
        updateRemoveStore();
    });
    addStore_ = new QPushButton(tr("Add Address &Book…"), box);
    addStore_->setAccessibleName(tr("Add an address book"));
    connect(addStore_, &QPushButton::clicked, this, [this] {
        auto* sheet = new AddStoreSheet(this);
        // The new book is the one imports go to, from the next start.
        connect(sheet, &AddStoreSheet::storeAdded, this,
                [this](const QString& name, const QString& uri) {
                    store_->addItem(tr("%1 (%2)").arg(name, uri), name);
                    store_->setCurrentIndex(store_->count() - 1);
                    emit store_->activated(store_->count() - 1);
                });
        addStoreSheet_ = sheet;
        sheet->open();
    });
    removeStore_ = new QPushButton(tr("&Forget…"), box);
    removeStore_->setAccessibleName(tr("Forget the chosen address book"));
    connect(removeStore_, &QPushButton::clicked, this, &PreferencesWindow::confirmForgetStore);
    auto* storeRow = new QHBoxLayout;
    storeRow->addWidget(store_, 1);
    storeRow->addWidget(addStore_);
    storeRow->addWidget(removeStore_);
    updateRemoveStore();
    auto* storeNote = new QLabel(
        session_.storeDirectory()
            ? tr("Imports go to the chosen address book from now on; the import page can also "
                 "choose a container of any of them.")
            : tr("A change applies when Pelkora starts next."),
        box);
    storeNote->setWordWrap(true);
    storeNote->setEnabled(false);

    container_ = new QComboBox(box);
    container_->setAccessibleName(tr("Default address book container"));
    fillContainers();
    connect(container_, &QComboBox::activated, this, [this](int index) {
        session_.settings().set(
            SettingKey::SelectedContainerID,
            PropertyValue(container_->itemData(index).toString().toStdString()));
    });

    auto* form = new QFormLayout(box);
    auto* storeLabel = new QLabel(tr("&Import into:"), box);
    storeLabel->setBuddy(store_);
    // The note under the pop-up, in the same row, so that it does not stand apart.
    auto* storeColumn = new QVBoxLayout;
    storeColumn->setSpacing(4);
    storeColumn->addLayout(storeRow);
    storeColumn->addWidget(storeNote);
    form->addRow(storeLabel, storeColumn);
    form->addRow(tr("&Container first chosen:"), container_);
    return box;
}

// Only the books the user named can be forgotten: the own book and the desktop's are always
// there.
void PreferencesWindow::updateRemoveStore() {
    const QString key = store_->currentData().toString();
    const auto named = NamedStores::load();
    removeStore_->setEnabled(named && named->uriOf(key.toStdString()).has_value());
}

void PreferencesWindow::confirmForgetStore() {
    const QString name = store_->currentData().toString();
    auto* box = makeWarningBox(
        this, tr("Forget the address book “%1”?").arg(name),
        tr("Its contacts stay where they are; Pelkora no longer offers it, and a CardDAV "
           "account's password leaves the keyring. Imports go to Pelkora's own address book "
           "when this one was in use."));
    QPushButton* forget = box->addButton(tr("Forget"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::finished, this, [this, box, forget, name] {
        if (box->clickedButton() != forget) return;
        auto forgotten = forgetNamedStore(name.toStdString());
        if (!forgotten) {
            openWarning(this, tr("The address book could not be forgotten."),
                        fromUtf8(forgotten.error().message));
            return;
        }
        if (*forgotten)
            openWarning(this, tr("The password was not removed from the keyring."),
                        fromUtf8(**forgotten));
        // The book in use goes back to the own book.
        if (fromUtf8(session_.contactStoreKey()) == name) {
            if (!session_.storeDirectory() || !session_.switchContactStore({}))
                session_.settings().removeObject(SettingKey::ContactStore);
            fillContainers();
        }
        store_->removeItem(store_->findData(name));
        store_->setCurrentIndex(store_->findData(fromUtf8(session_.contactStoreKey())));
        updateRemoveStore();
    });
    box->open();
}

// The containers of the book in use, the one imports start in selected.
void PreferencesWindow::fillContainers() {
    container_->clear();
    if (const auto& store = session_.contactStore()) {
        if (auto containers = store->containers()) {
            for (const contacts::Container& container : *containers)
                container_->addItem(fromUtf8(container.name), fromUtf8(container.identifier));
        }
        if (!session_.settings().stringForKey(SettingKey::SelectedContainerID))
            session_.settings().set(SettingKey::SelectedContainerID,
                                    PropertyValue(store->defaultContainerIdentifier()));
    }
    const int selected = container_->findData(fromUtf8(
        session_.settings().stringForKey(SettingKey::SelectedContainerID).value_or(std::string())));
    container_->setCurrentIndex(selected);
    container_->setEnabled(container_->count() > 0);
}

QCheckBox* PreferencesWindow::settingBox(std::string_view key) const {
    for (const auto& [shown, check] : settingBoxes_) {
        if (shown == key) return check;
    }
    return nullptr;
}

QWidget* PreferencesWindow::makeDateFormatsTab() {
    auto* tab = new QWidget(this);
    auto* intro = new QLabel(
        tr("Dates in your files are read with your own formats first, then with the built-in "
           "ones."),
        tab);
    intro->setWordWrap(true);
    dateFormats_ = new QTableWidget(0, 3, tab);
    dateFormats_->setAccessibleName(tr("Date formats"));
    dateFormats_->setHorizontalHeaderLabels({tr("Pattern"), tr("Language"), tr("Kind")});
    dateFormats_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dateFormats_->setSelectionMode(QAbstractItemView::SingleSelection);
    dateFormats_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dateFormats_->verticalHeader()->hide();
    dateFormats_->setAlternatingRowColors(true);
    dateFormats_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    dateFormats_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    dateFormats_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    connect(dateFormats_, &QTableWidget::cellDoubleClicked, this, [this] { editFormat(); });

    add_ = new QPushButton(tr("&Add…"), tab);
    add_->setAccessibleName(tr("Add a date format"));
    edit_ = new QPushButton(tr("&Edit…"), tab);
    edit_->setAccessibleName(tr("Edit the selected date format"));
    remove_ = new QPushButton(tr("&Remove"), tab);
    remove_->setAccessibleName(tr("Remove the selected date format"));
    connect(add_, &QPushButton::clicked, this, &PreferencesWindow::addFormat);
    connect(edit_, &QPushButton::clicked, this, &PreferencesWindow::editFormat);
    connect(remove_, &QPushButton::clicked, this, &PreferencesWindow::removeFormat);
    connect(dateFormats_, &QTableWidget::itemSelectionChanged, this, [this] {
        edit_->setEnabled(selectedRow().has_value());
        remove_->setEnabled(selectedRow().has_value());
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(edit_);
    buttons->addWidget(remove_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(intro);
    layout->addWidget(dateFormats_, 1);
    layout->addLayout(buttons);
    reloadDateFormats();
    return tab;
}

QWidget* PreferencesWindow::makeSyncTab() {
    auto* tab = new QWidget(this);
    sharing_ = new MappingSharing(session_, this);
    auto* intro = new QLabel(
        tr("Saved mappings can be shared between your computers through a folder that a sync "
           "tool (Nextcloud, Syncthing, a network share…) keeps in step, or through a folder "
           "on a WebDAV server."),
        tab);
    intro->setWordWrap(true);

    const SyncConfiguration place = sharing_->place();
    folderChoice_ = new QRadioButton(tr("A &folder kept in step by a sync tool"), tab);
    webDavChoice_ = new QRadioButton(tr("A &WebDAV server"), tab);
    (place.kind == SyncConfiguration::Kind::webdav ? webDavChoice_ : folderChoice_)
        ->setChecked(true);
    folder_ = new QLineEdit(QString::fromStdString(place.folder.string()), tab);
    folder_->setAccessibleName(tr("Sync folder"));
    folder_->setPlaceholderText(tr("for example ~/Nextcloud/Pelkora"));
    auto* chooseFolder = new QPushButton(tr("C&hoose…"), tab);
    chooseFolder->setAccessibleName(tr("Choose the sync folder"));
    connect(chooseFolder, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, tr("Sync Folder"), folder_->text());
        if (!chosen.isEmpty()) folder_->setText(chosen);
    });
    url_ = new QLineEdit(fromUtf8(place.url), tab);
    url_->setAccessibleName(tr("WebDAV folder address"));
    url_->setPlaceholderText(tr("https://cloud.example.org/remote.php/dav/files/you/Pelkora/"));
    user_ = new QLineEdit(fromUtf8(place.user), tab);
    user_->setAccessibleName(tr("WebDAV user name"));
    password_ = new QLineEdit(tab);
    password_->setEchoMode(QLineEdit::Password);
    password_->setAccessibleName(tr("WebDAV password"));
    password_->setPlaceholderText(tr("Kept in the desktop's password store"));
    caFile_ = new QLineEdit(QString::fromStdString(place.caFile.string()), tab);
    caFile_->setAccessibleName(tr("Certificate authority file"));
    caFile_->setPlaceholderText(tr("Only for a server with a certificate of its own"));

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(chooseFolder);
    auto* form = new QFormLayout;
    form->addRow(folderChoice_);
    form->addRow(tr("Folder:"), folderRow);
    form->addRow(webDavChoice_);
    form->addRow(tr("&Address:"), url_);
    form->addRow(tr("&User:"), user_);
    form->addRow(tr("&Password:"), password_);
    form->addRow(tr("C&A file:"), caFile_);

    sharingBox_ = new QCheckBox(sharingBoxTitle(), tab);
    sharingBox_->setAccessibleName(sharingBoxTitle());
    sharingBox_->setChecked(sharing_->isSharing());
    sharingStatus_ = new QLabel(tab);
    sharingStatus_->setWordWrap(true);
    sharingStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sharingStatus_->setAccessibleName(tr("Sharing status"));

    connect(sharingBox_, &QCheckBox::toggled, this, [this](bool on) {
        const SyncConfiguration place = placeInFields();
        std::optional<std::string> password;
        if (!password_->text().isEmpty()) password = password_->text().toStdString();
        sharing_->switchSharing(*sharingBox_, on, on ? place : sharing_->place(), password);
    });
    connect(sharing_, &MappingSharing::switchingStarted, this,
            &PreferencesWindow::updateSyncControls);
    connect(sharing_, &MappingSharing::switchingFinished, this,
            [this](bool on, const std::optional<SharingProblem>& problem) {
                if (on) password_->clear();
                updateSyncControls();
                if (!problem) return;
                messageBox_ = openWarning(this, problem->heading, problem->text);
            });
    for (QRadioButton* choice : {folderChoice_, webDavChoice_})
        connect(choice, &QRadioButton::toggled, this, &PreferencesWindow::updateSyncControls);
    for (QLineEdit* field : {folder_, url_})
        connect(field, &QLineEdit::textChanged, this, &PreferencesWindow::updateSyncControls);

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addSpacing(8);
    layout->addWidget(sharingBox_);
    layout->addWidget(sharingStatus_);
    layout->addStretch();
    updateSyncControls();
    return tab;
}

SyncConfiguration PreferencesWindow::placeInFields() const {
    SyncConfiguration place;
    if (folderChoice_->isChecked()) {
        place.kind = SyncConfiguration::Kind::folder;
        place.folder = QDir::cleanPath(folder_->text().trimmed()).toStdString();
    } else {
        place.kind = SyncConfiguration::Kind::webdav;
        place.url = url_->text().trimmed().toStdString();
        place.user = user_->text().trimmed().toStdString();
        place.caFile = caFile_->text().trimmed().toStdString();
    }
    return place;
}

// The place is chosen while sharing is off; while it is on, the fields show the place in use.
void PreferencesWindow::updateSyncControls() {
    const bool switching = sharing_->isSwitching();
    const bool editable = !switching && !sharingBox_->isChecked();
    const bool folder = folderChoice_->isChecked();
    folderChoice_->setEnabled(editable);
    webDavChoice_->setEnabled(editable);
    folder_->setEnabled(editable && folder);
    for (QLineEdit* field : {url_, user_, password_, caFile_})
        field->setEnabled(editable && !folder);
    const bool placeGiven =
        folder ? !folder_->text().trimmed().isEmpty() : !url_->text().trimmed().isEmpty();
    sharingBox_->setEnabled(!switching && (sharingBox_->isChecked() || placeGiven));
    if (!switching) sharingStatus_->setText(sharingStatusText(session_));
}

QWidget* PreferencesWindow::makeDiagnosticsTab() {
    auto* tab = new QWidget(this);
    auto* text = new QLabel(tr("Pelkora writes what it does, and every problem it meets, to its "
                               "runtime log. Attach it when you report a problem."),
                            tab);
    text->setWordWrap(true);
    auto* open = new QPushButton(tr("Open Runtime &Log"), tab);
    open->setAccessibleName(tr("Open the runtime log"));
    connect(open, &QPushButton::clicked, this, [this] { session_.openRuntimeLog(); });
    auto* row = new QHBoxLayout;
    row->addWidget(open);
    row->addStretch();

    logLevel_ = new QComboBox(tab);
    logLevel_->setAccessibleName(tr("Log level"));
    logLevel_->addItem(tr("Errors only"), static_cast<int>(LogLevel::errors));
    logLevel_->addItem(tr("Errors and what Pelkora does"), static_cast<int>(LogLevel::information));
    logLevel_->addItem(tr("Everything, step by step (for a problem report)"),
                       static_cast<int>(LogLevel::everything));
    logLevel_->setCurrentIndex(logLevel_->findData(static_cast<int>(Logger::shared().level())));
    connect(logLevel_, &QComboBox::activated, this, [this](int index) {
        applyLogLevel(session_.settings(),
                      static_cast<LogLevel>(logLevel_->itemData(index).toInt()));
    });
    auto* levelLabel = new QLabel(tr("&Write to the log:"), tab);
    levelLabel->setBuddy(logLevel_);
    auto* levelRow = new QHBoxLayout;
    levelRow->addWidget(levelLabel);
    levelRow->addWidget(logLevel_);
    levelRow->addStretch();

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(text);
    layout->addLayout(levelRow);
    layout->addLayout(row);
    layout->addStretch();
    return tab;
}

void PreferencesWindow::reloadDateFormats() {
    const std::vector<DateFormatRow> rows = dateFormatsModel_.rows();
    dateFormats_->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const int at = static_cast<int>(index);
        dateFormats_->setItem(at, 0, readOnlyItem(fromUtf8(rows[index].format)));
        dateFormats_->setItem(at, 1, readOnlyItem(fromUtf8(rows[index].language)));
        dateFormats_->setItem(at, 2,
                              readOnlyItem(rows[index].userDefined ? tr("Yours") : tr("Built-in")));
    }
    dateFormats_->clearSelection();
    edit_->setEnabled(false);
    remove_->setEnabled(false);
}

std::optional<std::size_t> PreferencesWindow::selectedRow() const {
    const auto selected = dateFormats_->selectionModel()->selectedRows();
    if (selected.isEmpty()) return std::nullopt;
    return static_cast<std::size_t>(selected.front().row());
}

void PreferencesWindow::addFormat() {
    openSheet(dateFormatsModel_.beginAdding());
}

void PreferencesWindow::editFormat() {
    const auto row = selectedRow();
    if (!row) return;
    auto draft = dateFormatsModel_.beginEditing(*row);
    if (!draft) return refuse(draft.error());
    openSheet(std::move(*draft));
}

void PreferencesWindow::removeFormat() {
    const auto row = selectedRow();
    if (!row) return;
    if (auto removed = dateFormatsModel_.remove(*row); !removed) return refuse(removed.error());
    reloadDateFormats();
}

void PreferencesWindow::openSheet(DateFormatDraft draft) {
    auto* sheet = new DateFormatSheet(dateFormatsModel_, std::move(draft), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::accepted, this, [this, sheet] {
        dateFormatsModel_.save(sheet->draft());
        reloadDateFormats();
    });
    sheet_ = sheet;
    sheet->open();
}

void PreferencesWindow::refuse(DateFormatRefusal refusal) {
    if (refusal == DateFormatRefusal::noSuchRow) return;
    messageBox_ = openWarning(this, fromUtf8(refusalMessage(refusal)),
                              fromUtf8(refusalInformativeText(refusal)));
}

}  // namespace pelkora::gui
