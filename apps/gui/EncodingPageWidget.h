#pragma once

// The encoding page: the examined head of a text file as the chosen encoding decodes it,
// the encodings pop-up, the status line, the switch for invisible characters, and back and
// continue. Everything it shows comes from SetTextEncodingPage; every action goes to it.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace pelkora {
class ImportSession;
class SetTextEncodingPage;
}  // namespace pelkora

namespace pelkora::gui {

class EncodingPageWidget final : public QWidget {
    Q_OBJECT

  public:
    EncodingPageWidget(ImportSession& session, SetTextEncodingPage& page,
                       QWidget* parent = nullptr);

    // Shows the page model's state: preview, selected encoding, status, continue.
    void refresh();

    QComboBox* encodingPopUp() const { return encodingPopUp_; }
    QLabel* statusLabel() const { return status_; }
    QPlainTextEdit* preview() const { return preview_; }
    QCheckBox* invisibleCharactersBox() const { return invisibles_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* continueButton() const { return continue_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void fillEncodingPopUp();
    void encodingChosen(int comboIndex);
    void showPreview();

    ImportSession& session_;
    SetTextEncodingPage& page_;
    QComboBox* encodingPopUp_;
    QPlainTextEdit* preview_;
    QLabel* status_;
    QCheckBox* invisibles_;
    QPushButton* back_;
    QPushButton* continue_;
};

}  // namespace pelkora::gui
