#include "ImportPageWidget.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "PageTitles.h"
#include "PaletteColours.h"
#include "Translations.h"
#include "Utf8Text.h"
#include "import/TabularDataImportOperation.h"
#include "session/ImportPage.h"
#include "session/ImportSession.h"
#include "support/Settings.h"
#include "support/SharedNames.h"

namespace pelkora::gui {
namespace {

// A check box that shows a yes/no setting and writes it when the user changes it.
QCheckBox* settingBox(const QString& title, std::string_view key, ImportSession& session,
                      QWidget* parent) {
    auto* box = new QCheckBox(title, parent);
    QString name = title;
    box->setAccessibleName(name.remove(QLatin1Char('&')));
    box->setChecked(session.settings().boolForKey(key));
    QObject::connect(box, &QCheckBox::toggled, parent,
                     [&session, key](bool on) { session.settings().set(key, PropertyValue(on)); });
    return box;
}

// A smaller, lighter paragraph under an option that says what it does.
QLabel* explanation(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setContentsMargins(26, 0, 0, 4);
    return label;
}

}  // namespace

ImportPageWidget::ImportPageWidget(ImportSession& session, ImportPage& page, QWidget* parent)
    : QWidget(parent), session_(session), page_(page) {
    auto* layout = makePageLayout(this);

    auto* heading = makePageHeading(tr("Import"), this);
    header_ = new QLabel(fromUtf8(page_.headerText()), this);
    header_->setWordWrap(true);

    // Where the records go: the address book or vCard files. A vCard source can only go into
    // the address book, so the choice is not offered for it.
    modeRow_ = new QWidget(this);
    auto* modeLayout = new QHBoxLayout(modeRow_);
    modeLayout->setContentsMargins(0, 0, 0, 0);
    contactsMode_ = new QRadioButton(tr("Into the &address book"), modeRow_);
    contactsMode_->setAccessibleName(tr("Into the address book"));
    vCardsMode_ = new QRadioButton(tr("As v&Card files"), modeRow_);
    vCardsMode_->setAccessibleName(tr("As vCard files"));
    auto* modes = new QButtonGroup(this);
    modes->addButton(contactsMode_, static_cast<int>(ImportModeTag::contacts));
    modes->addButton(vCardsMode_, static_cast<int>(ImportModeTag::vCards));
    modeLayout->addWidget(contactsMode_);
    modeLayout->addWidget(vCardsMode_);
    modeLayout->addStretch();
    modeRow_->setVisible(!page_.isModeControlHidden());

    options_ = new QStackedWidget(this);

    // Contacts mode: the container and what the import does besides adding contacts.
    auto* contactsOptions = new QWidget(options_);
    auto* contactsLayout = new QVBoxLayout(contactsOptions);
    contactsLayout->setContentsMargins(0, 0, 0, 0);
    contactsLayout->setSpacing(6);
    auto* containerRow = new QHBoxLayout;
    auto* containerLabel = new QLabel(tr("Address b&ook:"), contactsOptions);
    containers_ = new QComboBox(contactsOptions);
    containers_->setAccessibleName(tr("Address book"));
    containers_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    containers_->setMinimumWidth(260);
    containerLabel->setBuddy(containers_);
    containerRow->addWidget(containerLabel);
    containerRow->addWidget(containers_);
    containerRow->addStretch();

    const QString oldGroup = fromUtf8(TabularDataImportOperation::oldDuplicatesGroupName());
    const QString newGroup = fromUtf8(TabularDataImportOperation::newDuplicatesGroupName());
    oldDuplicates_ = settingBox(
        tr("&Existing contacts that the records repeat go into the group “%1”").arg(oldGroup),
        SettingKey::DetectDuplicates, session_, contactsOptions);
    newDuplicates_ = settingBox(
        tr("&New contacts that repeat an existing one go into the group “%1”").arg(newGroup),
        SettingKey::DetectNewDuplicates, session_, contactsOptions);
    auto* duplicatesNote = explanation(
        tr("Contacts count as the same when their full names are equal, or their identifiers "
           "when a column is mapped to the identifier. Nothing is merged or deleted: the groups "
           "only show what to look at."),
        contactsOptions);

    auto* notesRow = new QHBoxLayout;
    addNotes_ = settingBox(tr("Add this &text to every note:"), SettingKey::AddTextToNotes,
                           session_, contactsOptions);
    notesText_ = new QLineEdit(contactsOptions);
    notesText_->setAccessibleName(tr("Text added to every note"));
    notesText_->setPlaceholderText(tr("for example: Imported from FILE on DATE"));
    notesRow->addWidget(addNotes_);
    notesRow->addWidget(notesText_, 1);
    auto* notesNote = explanation(
        tr("The words FILE, DATE, TIME and TRANSNUM are replaced by the file’s name, the date "
           "and time of the import, and a number that tells this import from others."),
        contactsOptions);

    removeGroups_ = settingBox(tr("&Delete the address book’s groups before importing"),
                               SettingKey::RemoveGroups, session_, contactsOptions);
    auto* removeNote = explanation(tr("The contacts stay; only the groups themselves are deleted."),
                                   contactsOptions);

    contactsLayout->addLayout(containerRow);
    contactsLayout->addSpacing(8);
    contactsLayout->addWidget(oldDuplicates_);
    contactsLayout->addWidget(newDuplicates_);
    contactsLayout->addWidget(duplicatesNote);
    contactsLayout->addLayout(notesRow);
    contactsLayout->addWidget(notesNote);
    contactsLayout->addWidget(removeGroups_);
    contactsLayout->addWidget(removeNote);
    contactsLayout->addStretch();

    // vCard mode: one file or one file per contact.
    auto* vCardOptions = new QWidget(options_);
    auto* vCardLayout = new QVBoxLayout(vCardOptions);
    vCardLayout->setContentsMargins(0, 0, 0, 0);
    oneFile_ = new QRadioButton(tr("One &file holding every contact"), vCardOptions);
    oneFile_->setAccessibleName(tr("One file holding every contact"));
    filePerContact_ = new QRadioButton(tr("One file &per contact, in a folder"), vCardOptions);
    filePerContact_->setAccessibleName(tr("One file per contact, in a folder"));
    auto* formats = new QButtonGroup(this);
    formats->addButton(oneFile_);
    formats->addButton(filePerContact_);
    const auto format = session_.settings().stringForKey(SettingKey::VCardFormat);
    (format == VCardFormatNames::Individual ? filePerContact_ : oneFile_)->setChecked(true);
    vCardLayout->addWidget(oneFile_);
    vCardLayout->addWidget(filePerContact_);
    vCardLayout->addWidget(explanation(
        tr("Each record becomes a vCard 3.0 with its picture, groups and note, as it would be "
           "imported."),
        vCardOptions));
    vCardLayout->addStretch();

    options_->addWidget(contactsOptions);
    options_->addWidget(vCardOptions);

    result_ = new QLabel(this);
    result_->setWordWrap(true);
    result_->setAccessibleName(tr("Result of the last import"));
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result_->setFrameShape(QFrame::StyledPanel);
    result_->setContentsMargins(10, 8, 10, 8);
    result_->hide();

    const PageButtons pageButtons = makePageButtons(this);
    back_ = pageButtons.back;
    start_ = pageButtons.next;

    layout->addWidget(heading);
    layout->addWidget(header_);
    layout->addWidget(modeRow_);
    layout->addWidget(options_, 1);
    layout->addWidget(result_);
    layout->addLayout(pageButtons.row);

    setTabOrder(contactsMode_, vCardsMode_);
    setTabOrder(vCardsMode_, containers_);
    setTabOrder(containers_, oldDuplicates_);
    setTabOrder(oldDuplicates_, newDuplicates_);
    setTabOrder(newDuplicates_, addNotes_);
    setTabOrder(addNotes_, notesText_);
    setTabOrder(notesText_, removeGroups_);
    setTabOrder(removeGroups_, oneFile_);
    setTabOrder(oneFile_, filePerContact_);
    setTabOrder(filePerContact_, back_);
    setTabOrder(back_, start_);
    setFocusProxy(start_);

    buildContainerPopUp();
    std::string tokens;
    for (const auto& token : page_.textTokens()) tokens += (tokens.empty() ? "" : " ") + token;
    notesText_->setText(fromUtf8(tokens));
    notesText_->setEnabled(addNotes_->isChecked());

    connect(modes, &QButtonGroup::idClicked, this, [this](int mode) {
        page_.setMode(session_, static_cast<ImportModeTag>(mode));
        refresh();
    });
    connect(formats, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* button) {
        session_.settings().set(SettingKey::VCardFormat,
                                std::string(button == oneFile_ ? VCardFormatNames::Group
                                                               : VCardFormatNames::Individual));
    });
    connect(containers_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        // Each container's data: its book's key, then its identifier.
        const QStringList item = containers_->itemData(index).toStringList();
        if (item.size() == 2)
            page_.selectContainer(session_, item[1].toStdString(), item[0].toStdString());
    });
    connect(addNotes_, &QCheckBox::toggled, notesText_, &QWidget::setEnabled);
    // The note gets the tokens joined with blanks, keywords replaced in the joined text; so
    // the field shows that text, and what the user types is kept as one token that gives the
    // same text back, blanks and all.
    connect(notesText_, &QLineEdit::textEdited, this, [this](const QString& text) {
        std::vector<std::string> tokens;
        if (!text.isEmpty()) tokens.push_back(text.toStdString());
        page_.setTextTokens(session_, std::move(tokens));
    });
    connect(back_, &QPushButton::clicked, this, [this] { session_.showPreviousPage(); });
    connect(start_, &QPushButton::clicked, this, &ImportPageWidget::start);

    QPointer<ImportPageWidget> self(this);
    page_.setChangeHandler([self] {
        if (self) self->refresh();
    });
    refresh();
}

ImportPageWidget::~ImportPageWidget() = default;

void ImportPageWidget::buildContainerPopUp() {
    containers_->clear();
    const auto& menu = page_.containerMenu();
    auto* model = qobject_cast<QStandardItemModel*>(containers_->model());
    for (const auto& item : menu) {
        if (item.isSeparator) {
            containers_->insertSeparator(containers_->count());
        } else if (item.isHeading) {
            // A book's name over its containers: shown, not chosen.
            containers_->addItem(fromUtf8(item.title));
            QStandardItem* heading = model->item(containers_->count() - 1);
            heading->setFlags(heading->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
            QFont font = heading->font();
            font.setBold(true);
            heading->setFont(font);
        } else {
            // Under its book's bold heading; the closed pop-up shows the name alone.
            containers_->addItem(fromUtf8(item.title),
                                 QStringList{fromUtf8(item.storeKey), fromUtf8(item.identifier)});
        }
    }
    containers_->setEnabled(!menu.empty());
    if (menu.empty()) {
        containers_->addItem(fromUtf8(ImportPage::noAccountsText()));
        return;
    }
    if (const auto& selected = page_.selectedContainerIdentifier()) {
        const int index = containers_->findData(
            QStringList{fromUtf8(page_.selectedStoreKey(session_)), fromUtf8(*selected)});
        if (index >= 0) containers_->setCurrentIndex(index);
    }
}

void ImportPageWidget::refresh() {
    const bool contacts = page_.mode() == ImportModeTag::contacts;
    (contacts ? contactsMode_ : vCardsMode_)->setChecked(true);
    options_->setCurrentIndex(contacts ? 0 : 1);
    QString title = fromUtf8(page_.buttonTitle());
    title.prepend(QLatin1Char('&'));
    start_->setText(title);
    start_->setAccessibleName(fromUtf8(page_.buttonTitle()));
    start_->setEnabled(!page_.isImporting() &&
                       (!contacts || page_.selectedContainerIdentifier().has_value()));
    back_->setEnabled(page_.previousPageName().has_value() && !page_.isImporting());
    showResult();
}

// What the last import or export did stays on the page after its alert is gone.
void ImportPageWidget::showResult() {
    const auto& outcome = page_.outcome();
    const auto& summary = page_.summary();
    if (!outcome && !summary) {
        result_->hide();
        return;
    }
    QStringList lines;
    if (outcome)
        lines << QStringLiteral("<b>%1</b>").arg(fromUtf8(outcome->heading).toHtmlEscaped());
    if (summary && !summary->failed) {
        lines << trn("%1 of %2 contact added.", "%1 of %2 contacts added.", summary->rowsToImport)
                     .arg(summary->contactsSaved)
                     .arg(summary->rowsToImport);
        if (summary->cancelled)
            lines << tr("The import was cancelled; the contacts saved until then stay.");
        if (summary->groupsCreated > 0) lines << tr("Groups made: %1.").arg(summary->groupsCreated);
        if (summary->groupsRemoved > 0)
            lines << tr("Groups deleted first: %1.").arg(summary->groupsRemoved);
        if (summary->oldDuplicates > 0 || summary->newDuplicates > 0)
            lines << tr("Set aside as possible duplicates: %1 and %2.")
                         .arg(trn("%1 existing contact", "%1 existing contacts",
                                  summary->oldDuplicates)
                                  .arg(summary->oldDuplicates),
                              trn("%1 new contact", "%1 new contacts", summary->newDuplicates)
                                  .arg(summary->newDuplicates));
        for (const auto& line : warningCountLines(summary->warnings))
            lines << (fromUtf8(line) + QLatin1Char('.')).toHtmlEscaped();
        if (!summary->journalProblem.empty())
            lines << tr("It could not be recorded for undoing: %1")
                         .arg(fromUtf8(summary->journalProblem).toHtmlEscaped());
    } else if (outcome) {
        for (const auto& line : fromUtf8(outcome->text).split(QLatin1Char('\n')))
            lines << line.toHtmlEscaped();
    }
    result_->setText(lines.join(QStringLiteral("<br>")));
    QPalette colours = palette();
    if (outcome && outcome->failed)
        colours.setColor(QPalette::WindowText, warningColour(palette()));
    result_->setPalette(colours);
    result_->show();
}

void ImportPageWidget::start() {
    if (page_.mode() == ImportModeTag::vCards) {
        chooseVCardDestination();
        return;
    }
    if (page_.startImport(session_)) refresh();
}

void ImportPageWidget::chooseVCardDestination() {
    const VCardDestinationRequest request = page_.vCardDestinationRequest(session_);
    auto* dialog = new QFileDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    ImportPage::VCardFormat format = ImportPage::VCardFormat::group;
    if (const auto* panel = std::get_if<VCardSavePanel>(&request)) {
        dialog->setWindowTitle(tr("Save vCards"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setNameFilter(tr("vCard files (*.vcf)"));
        dialog->setDefaultSuffix(QStringLiteral("vcf"));
        if (!panel->directory.empty())
            dialog->setDirectory(QString::fromStdString(panel->directory.string()));
        dialog->selectFile(fromUtf8(panel->proposedFileName));
    } else if (const auto* chooser = std::get_if<VCardFolderChooser>(&request)) {
        format = ImportPage::VCardFormat::individual;
        dialog->setWindowTitle(fromUtf8(chooser->message));
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setLabelText(QFileDialog::Accept, fromUtf8(chooser->prompt));
    } else {
        // The setting names no format (it was edited by hand): the log says so.
        delete dialog;
        return;
    }
    connect(dialog, &QFileDialog::fileSelected, this, [this, format](const QString& file) {
        if (page_.startExport(session_, format, std::filesystem::path(file.toStdString())))
            refresh();
    });
    destination_ = dialog;
    dialog->open();
}

}  // namespace pelkora::gui
