#include "gui/ThumbnailWorker.h"

#include <QImageReader>
#include <QMetaObject>
#include <QPainter>

#include "viewing/ThumbnailFiles.h"

namespace hx::gui {

ThumbnailWorker::ThumbnailWorker(QObject* receiver, std::function<void(const QString&, const QImage&)> done)
    : receiver_(receiver), done_(std::move(done)) {}

ThumbnailWorker::~ThumbnailWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ThumbnailWorker::request(const QString& name, const std::filesystem::path& file,
                              const std::filesystem::path& thumbs, QSize box) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back({name, file, thumbs, box});
        ++pending_;
        // The thread starts with the first picture asked for.
        if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
    }
    wake_.notify_one();
}

void ThumbnailWorker::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ -= static_cast<int>(jobs_.size());
    jobs_.clear();
}

void ThumbnailWorker::keep(const QImage& picture, const std::filesystem::path& target) {
    if (picture.isNull()) return;
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    QImage opaque(picture.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, picture);
    painter.end();
    opaque.save(QString::fromStdString(target.string()), "JPG", 90);
}

void ThumbnailWorker::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
            if (ending_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        QImage picture;
        const std::filesystem::path made = viewing::ThumbnailFile(job.file, job.thumbs, job.box.width());
        if (!made.empty()) picture.load(QString::fromStdString(made.string()));
        if (picture.isNull()) {
            QImageReader reader(QString::fromStdString(job.file.string()));
            if (reader.size().isValid()) reader.setScaledSize(reader.size().scaled(job.box, Qt::KeepAspectRatio));
            picture = reader.read();
        }
        if (!picture.isNull() && (picture.width() > job.box.width() || picture.height() > job.box.height()))
            picture = picture.scaled(job.box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        // Every thumbnail is a file: the window holds only those in view.
        if (made.empty()) keep(picture, job.thumbs / viewing::ThumbnailFileName(job.file.filename().string()));
        QObject* receiver = receiver_.data();
        if (!receiver) return;
        QMetaObject::invokeMethod(
            receiver, [this, done = done_, name = job.name, picture] {
                --pending_;
                done(name, picture);
            },
            Qt::QueuedConnection);
    }
}

}  // namespace hx::gui
