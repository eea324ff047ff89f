#pragma once
// The window's picture and details: the preview of the chosen find, how it
// is drawn (its mode, a click on which asks for the whole picture), a motion
// photo's button for its clip, a line of facts and the camera's. It owns its widgets and what a click on them does
// to the picture itself (zoom); what else a click asks for, the window says.
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <string>

#include "viewing/PictureFilters.h"

class QLabel;
class QPushButton;
class QPlainTextEdit;

namespace hx::gui {

class PicturePane : public QWidget {
public:
    struct Actions {
        std::function<void()> wholePicture;           // a click on the mode
        std::function<void()> fullScreen;             // a double click on the picture
        std::function<void(QWidget*, QPoint)> filterList;  // the right button on the picture, where
        std::function<void()> clip;                   // a click on the clip's button
    };
    PicturePane(QWidget* parent, Actions actions);

    // The picture, fitted to the pane; `mode` says how it was drawn.
    void showPicture(const QPixmap& picture, const QString& mode);
    // The same, turned and filtered as the user asked for the file known as `key`.
    void showAdjusted(const QImage& picture, const std::string& key, const QString& mode);
    // How the user turned each file and filters every picture.
    viewing::PreviewAdjustments& adjustments() { return adjustments_; }
    // An icon or a thumbnailer's picture in place of one: nothing to zoom into.
    void showStandIn(const QPixmap& standIn, const QString& mode);
    // A left click: the picture at full size around `at`; the next, whole again.
    void zoom(QPoint at);
    // Drawn again to the pane's size (after the window changed size).
    void refit();
    const QPixmap& picture() const { return picture_; }
    bool zoomed() const { return zoomed_; }
    QSize pictureSize() const;

    // The button under a motion photo: hidden (`text` empty), or asking
    // for the clip's first picture, or for the photo again.
    void offerClip(const QString& text);
    QString clipOffer() const;

    void setInfo(const QString& text);
    void setFacts(const QString& text);
    QString facts() const;
    void clearText();

private:
    QLabel* picture1_ = nullptr;
    QLabel* mode_ = nullptr;
    QPushButton* clip_ = nullptr;
    QLabel* info_ = nullptr;
    QPlainTextEdit* facts_ = nullptr;
    QPixmap picture_;
    bool zoomed_ = false;
    viewing::PreviewAdjustments adjustments_;
};

}  // namespace hx::gui
