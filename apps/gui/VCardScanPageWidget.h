#pragma once

// The vCard scan page: how many contacts the opened vCard files hold, file by file, and the
// groups their cards name; Continue leads to the import page once a card was found. The scan
// itself runs in the page model behind the progress sheet.

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace pelkora {
class ImportSession;
class VCFScanPage;
}  // namespace pelkora

namespace pelkora::gui {

class VCardScanPageWidget final : public QWidget {
    Q_OBJECT

  public:
    VCardScanPageWidget(ImportSession& session, VCFScanPage& page, QWidget* parent = nullptr);

    // Shows the scan's results once it has finished.
    void refresh();

    QLabel* resultsLabel() const { return results_; }
    QTreeWidget* fileList() const { return files_; }
    QListWidget* groupList() const { return groups_; }
    QLabel* noGroupsLabel() const { return noGroups_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* continueButton() const { return continue_; }

  private:
    ImportSession& session_;
    VCFScanPage& page_;
    QLabel* results_;
    QLabel* otherPrograms_;
    QTreeWidget* files_;
    QLabel* groupsHeading_;
    QListWidget* groups_;
    QLabel* noGroups_;
    QPushButton* back_;
    QPushButton* continue_;
};

}  // namespace pelkora::gui
