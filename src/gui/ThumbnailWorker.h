#pragma once
// Draws the thumbnails of files found while a scan runs, on a thread of its
// own: neither the scan nor the window waits for a picture to be decoded.
// Each picture is handed back on the window's thread.
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

namespace hx::gui {

class ThumbnailWorker {
public:
    // `done` runs on `receiver`'s thread with the name asked for and its
    // picture (null when none could be drawn); never after `receiver` is gone.
    ThumbnailWorker(QObject* receiver, std::function<void(const QString&, const QImage&)> done);
    ~ThumbnailWorker();
    ThumbnailWorker(const ThumbnailWorker&) = delete;
    ThumbnailWorker& operator=(const ThumbnailWorker&) = delete;

    // The picture of `file`, kept as a thumbnail file in `thumbs`, at most `box` large.
    void request(const QString& name, const std::filesystem::path& file, const std::filesystem::path& thumbs, QSize box);
    // Forgets what was asked and not yet begun.
    void clear();
    // Pictures are asked for and not yet handed back.
    bool busy() const { return pending_.load() > 0; }

    // Keeps `picture` as the thumbnail file `target` (on white where it is transparent).
    static void keep(const QImage& picture, const std::filesystem::path& target);

private:
    struct Job {
        QString name;
        std::filesystem::path file, thumbs;
        QSize box;
    };
    void work();

    QPointer<QObject> receiver_;
    std::function<void(const QString&, const QImage&)> done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool ending_ = false;
    std::atomic<int> pending_{0};
    std::thread thread_;
};

}  // namespace hx::gui
