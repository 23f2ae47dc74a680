#include "AddStoreSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "PaletteColours.h"
#include "Utf8Text.h"
#include "mappingstore/webdav/SecretStore.h"
#include "support/Logger.h"

namespace pelkora::gui {

AddStoreSheet::AddStoreSheet(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Add Address Book"));

    kind_ = new QComboBox(this);
    kind_->setAccessibleName(tr("Kind of address book"));
    kind_->addItem(tr("A folder of vCard files (vdirsyncer, khard)"));
    kind_->addItem(tr("An account on a CardDAV server"));
    kind_->addItem(tr("The desktop's address books (Evolution Data Server)"));
    name_ = new QLineEdit(this);
    name_->setAccessibleName(tr("Name of the address book"));
    name_->setPlaceholderText(tr("for example work"));

    auto* folderPage = new QWidget(this);
    folder_ = new QLineEdit(folderPage);
    folder_->setAccessibleName(tr("Folder of vCard files"));
    auto* choose = new QPushButton(tr("C&hoose…"), folderPage);
    choose->setAccessibleName(tr("Choose the folder"));
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, tr("vCard Folder"), folder_->text());
        if (!chosen.isEmpty()) folder_->setText(chosen);
    });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(choose);
    auto* folderForm = new QFormLayout(folderPage);
    folderForm->setContentsMargins(0, 0, 0, 0);
    folderForm->addRow(tr("&Folder:"), folderRow);

    auto* accountPage = new QWidget(this);
    url_ = new QLineEdit(accountPage);
    url_->setAccessibleName(tr("Server address"));
    url_->setPlaceholderText(tr("https://cloud.example.org/remote.php/dav"));
    user_ = new QLineEdit(accountPage);
    user_->setAccessibleName(tr("User name"));
    password_ = new QLineEdit(accountPage);
    password_->setEchoMode(QLineEdit::Password);
    password_->setAccessibleName(tr("Password"));
    password_->setPlaceholderText(tr("Kept in the desktop's password store"));
    caFile_ = new QLineEdit(accountPage);
    caFile_->setAccessibleName(tr("Certificate authority file"));
    caFile_->setPlaceholderText(tr("Only for a server with a certificate of its own"));
    groupCards_ =
        new QCheckBox(tr("Keep &groups as cards of their own (Apple's way)"), accountPage);
    auto* accountForm = new QFormLayout(accountPage);
    accountForm->setContentsMargins(0, 0, 0, 0);
    accountForm->addRow(tr("&Address:"), url_);
    accountForm->addRow(tr("&User:"), user_);
    accountForm->addRow(tr("&Password:"), password_);
    accountForm->addRow(tr("C&A file:"), caFile_);
    accountForm->addRow(QString(), groupCards_);

    details_ = new QStackedWidget(this);
    details_->addWidget(folderPage);
    details_->addWidget(accountPage);
    details_->addWidget(new QWidget(this));
    connect(kind_, &QComboBox::currentIndexChanged, details_, &QStackedWidget::setCurrentIndex);

    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->setAccessibleName(tr("Problem"));
    problem_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    add_ = buttons->addButton(tr("&Add"), QDialogButtonBox::AcceptRole);
    add_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddStoreSheet::addStore);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(tr("&Kind:"), kind_);
    form->addRow(tr("&Name:"), name_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->addLayout(form);
    layout->addWidget(details_);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    setMinimumWidth(520);
}

Expected<StoreLocation, std::string> AddStoreSheet::locationInFields() const {
    switch (kind_->currentIndex()) {
        case vdirKind: {
            const QString folder = folder_->text().trimmed();
            if (folder.isEmpty())
                return Unexpected(std::string("choose the folder of vCard files"));
            return parseStoreUri("vdir:" + QDir::cleanPath(folder).toStdString());
        }
        case cardDavKind: {
            const QString url = url_->text().trimmed();
            if (url.isEmpty()) return Unexpected(std::string("give the server's address"));
            auto location = parseStoreUri("carddav:" + url.toStdString());
            if (!location) return location;
            if (!user_->text().trimmed().isEmpty())
                location->options.user = user_->text().trimmed().toStdString();
            if (!caFile_->text().trimmed().isEmpty())
                location->options.caFile =
                    std::filesystem::absolute(caFile_->text().trimmed().toStdString());
            location->options.groupCards = groupCards_->isChecked();
            return location;
        }
        default:
            return parseStoreUri("eds:");
    }
}

bool AddStoreSheet::addStore() {
    const std::string name = name_->text().trimmed().toStdString();
    if (name.empty() || name.find_first_of(":/") != std::string::npos) {
        showProblem(tr("Give the address book a name without “:” or “/”."));
        return false;
    }
    auto location = locationInFields();
    if (!location) {
        showProblem(fromUtf8(location.error()));
        return false;
    }
    const std::string password = password_->text().toStdString();
    // The store is opened before it is named; a missing vCard folder is made.
    auto store = openStore(*location, true, [&password](const StoreLocation& place) {
        if (place.options.user.empty() || !password.empty())
            return Expected<std::string, std::string>(password);
        return storedCardDavPassword(place);
    });
    if (!store) {
        showProblem(fromUtf8(store.error().message));
        return false;
    }
    auto named = NamedStores::load();
    if (!named) {
        showProblem(fromUtf8(named.error()));
        return false;
    }
    named->set(name, location->uri(), location->options);
    if (auto saved = named->save(); !saved) {
        showProblem(fromUtf8(saved.error()));
        return false;
    }
    if (!password.empty() && !location->options.user.empty()) {
        if (auto kept = storeWebDavPassword(location->url, location->options.user, password);
            !kept) {
            writeLog(LogType::error,
                     "The password of %{public}@ was not kept in the Secret Service: %{public}@",
                     location->uri(), kept.error());
        }
    }
    emit storeAdded(fromUtf8(name), fromUtf8(location->uri()));
    accept();
    return true;
}

void AddStoreSheet::showProblem(const QString& text) {
    QPalette palette = problem_->palette();
    palette.setColor(QPalette::WindowText, warningColour(palette));
    problem_->setPalette(palette);
    problem_->setText(text);
    problem_->show();
}

}  // namespace pelkora::gui
