// Capture devices over V4L2: the video nodes that capture, one opened in a format we can turn
// into BGRA (YUYV, MJPEG, RGB24), streamed through mmap buffers (or read() where the driver
// has no streaming) on a grabber thread. Test sources named by ZUV_TEST_CAMERA feed a frame
// file through the same path. The grabber shares only the newest picture (under a lock) and
// the grab buffer (through the state word) with the GUI thread.
#include "ridi/backend/gtk/camera.h"

#include <dirent.h>
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zuv::gui::camera {

// A stream of frames in one pixel format.
class Source {
public:
    virtual ~Source() = default;
    uint32_t format = 0;
    int32_t width = 0, height = 0, stride = 0;
    virtual bool begin(std::string* error) = 0;
    // Waits up to timeout_ms for the next frame and hands it to `use`: 1 when one came, 0 on
    // a timeout, -1 when the device failed.
    virtual int next(int timeout_ms, const std::function<void(const uint8_t*, size_t)>& use) = 0;
    virtual void end() = 0;
};

namespace {

uint8_t clamp_byte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One pixel of studio-range BT.601 colour into BGRA.
void yuv_pixel(int y, int u, int v, uint8_t* out) {
    int c = y - 16, d = u - 128, e = v - 128;
    out[0] = clamp_byte((298 * c + 516 * d + 128) >> 8);
    out[1] = clamp_byte((298 * c - 100 * d - 208 * e + 128) >> 8);
    out[2] = clamp_byte((298 * c + 409 * e + 128) >> 8);
    out[3] = 255;
}

bool jpeg_to_bgra(const uint8_t* data, size_t length, int32_t width, int32_t height, uint8_t* out) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    bool ok = gdk_pixbuf_loader_write(loader, data, length, nullptr);
    ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
    GdkPixbuf* pb = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pb) {
        int pw = gdk_pixbuf_get_width(pb), ph = gdk_pixbuf_get_height(pb), n = gdk_pixbuf_get_n_channels(pb);
        int rs = gdk_pixbuf_get_rowstride(pb);
        const guint8* px = gdk_pixbuf_read_pixels(pb);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* o = out + (size_t(y) * width + x) * 4;
                if (x < pw && y < ph) {
                    const guint8* p = px + size_t(y) * rs + size_t(x) * n;
                    o[0] = p[2], o[1] = p[1], o[2] = p[0], o[3] = 255;
                } else {
                    o[0] = o[1] = o[2] = 0, o[3] = 255;
                }
            }
        }
    }
    g_object_unref(loader);
    return pb != nullptr;
}

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do r = ::ioctl(fd, request, arg);
    while (r == -1 && errno == EINTR);
    return r;
}

std::string os_error(const std::string& what) { return what + ": " + std::strerror(errno); }

uint32_t capabilities(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool convertible(uint32_t f) { return f == yuyv || f == mjpeg || f == jpeg || f == rgb24; }

// ---- a V4L2 device ----------------------------------------------------------------------------------

class V4l2Source final : public Source {
public:
    ~V4l2Source() override {
        end();
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::string& path, std::string* error) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return *error = os_error("cannot open " + path), false;
        v4l2_capability cap{};
        if (xioctl(fd_, VIDIOC_QUERYCAP, &cap) < 0) return *error = os_error(path + " is no video device"), false;
        uint32_t caps = capabilities(cap);
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return *error = path + " does not capture video", false;
        streaming_ = (caps & V4L2_CAP_STREAMING) != 0;
        if (!streaming_ && !(caps & V4L2_CAP_READWRITE)) return *error = path + " can neither stream nor be read", false;
        // The first format we can convert, in the order we prefer: uncompressed first.
        std::vector<uint32_t> offered;
        for (uint32_t i = 0;; ++i) {
            v4l2_fmtdesc d{};
            d.index = i;
            d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (xioctl(fd_, VIDIOC_ENUM_FMT, &d) < 0) break;
            offered.push_back(d.pixelformat);
        }
        uint32_t chosen = 0;
        for (uint32_t f : {yuyv, mjpeg, jpeg, rgb24})
            if (!chosen && std::find(offered.begin(), offered.end(), f) != offered.end()) chosen = f;
        if (!chosen) return *error = path + " offers no pixel format that can be shown", false;
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_G_FMT, &fmt) < 0) return *error = os_error(path + ": cannot read the format"), false;
        fmt.fmt.pix.pixelformat = chosen;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        if (fmt.fmt.pix.width == 0 || fmt.fmt.pix.height == 0) fmt.fmt.pix.width = 640, fmt.fmt.pix.height = 480;
        if (xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) return *error = os_error(path + ": cannot set the format"), false;
        // The driver may answer with something else than was asked.
        format = fmt.fmt.pix.pixelformat;
        width = static_cast<int32_t>(fmt.fmt.pix.width);
        height = static_cast<int32_t>(fmt.fmt.pix.height);
        stride = static_cast<int32_t>(fmt.fmt.pix.bytesperline);
        frame_size_ = fmt.fmt.pix.sizeimage;
        if (!convertible(format) || width <= 0 || height <= 0 || width > 16384 || height > 16384)
            return *error = path + " gives frames that cannot be shown", false;
        return true;
    }

    bool begin(std::string* error) override {
        if (!streaming_) {
            read_buffer_.resize(frame_size_ ? frame_size_ : size_t(width) * height * 4);
            return true;
        }
        v4l2_requestbuffers req{};
        req.count = 4;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_REQBUFS, &req) < 0 || req.count < 1)
            return *error = os_error("cannot get capture buffers"), false;
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            b.index = i;
            if (xioctl(fd_, VIDIOC_QUERYBUF, &b) < 0) return *error = os_error("cannot query a buffer"), end(), false;
            void* p = ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
            if (p == MAP_FAILED) return *error = os_error("cannot map a buffer"), end(), false;
            mapped_.push_back({p, b.length});
            if (xioctl(fd_, VIDIOC_QBUF, &b) < 0) return *error = os_error("cannot queue a buffer"), end(), false;
        }
        v4l2_buf_type t = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_STREAMON, &t) < 0) return *error = os_error("cannot start streaming"), end(), false;
        on_ = true;
        return true;
    }

    int next(int timeout_ms, const std::function<void(const uint8_t*, size_t)>& use) override {
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, timeout_ms);
        if (r == 0 || (r < 0 && errno == EINTR)) return 0;
        if (r < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return -1;
        if (!streaming_) {
            ssize_t n = ::read(fd_, read_buffer_.data(), read_buffer_.size());
            if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
            use(read_buffer_.data(), size_t(n));
            return 1;
        }
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_DQBUF, &b) < 0) return errno == EAGAIN ? 0 : -1;
        if (b.index < mapped_.size() && !(b.flags & V4L2_BUF_FLAG_ERROR))
            use(static_cast<const uint8_t*>(mapped_[b.index].first), std::min<size_t>(b.bytesused, mapped_[b.index].second));
        return xioctl(fd_, VIDIOC_QBUF, &b) < 0 ? -1 : 1;
    }

    void end() override {
        if (on_) {
            v4l2_buf_type t = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(fd_, VIDIOC_STREAMOFF, &t);
            on_ = false;
        }
        for (auto& [p, n] : mapped_) ::munmap(p, n);
        if (!mapped_.empty()) {
            mapped_.clear();
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            xioctl(fd_, VIDIOC_REQBUFS, &req);  // count 0 gives the buffers back
        }
    }

private:
    int fd_ = -1;
    bool streaming_ = false, on_ = false;
    size_t frame_size_ = 0;
    std::vector<std::pair<void*, size_t>> mapped_;
    std::vector<uint8_t> read_buffer_;
};

// ---- a test source: one frame file, fed at about 30 frames a second -------------------------------

class FileSource final : public Source {
public:
    bool open(const Device& d, std::string* error) {
        std::ifstream in(d.path, std::ios::binary);
        if (!in) return *error = "cannot read the frame file " + d.path, false;
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        format = d.fourcc, width = d.width, height = d.height, stride = 0;
        if (width <= 0 || height <= 0) return *error = "the frame file " + d.path + " has no size", false;
        size_t need = format == yuyv ? size_t(width) * height * 2 : format == rgb24 ? size_t(width) * height * 3 : 1;
        if (bytes_.size() < need) return *error = "the frame file " + d.path + " is shorter than a frame", false;
        return true;
    }
    bool begin(std::string*) override { return true; }
    int next(int timeout_ms, const std::function<void(const uint8_t*, size_t)>& use) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 33)));
        use(bytes_.data(), bytes_.size());
        return 1;
    }
    void end() override {}

private:
    std::vector<uint8_t> bytes_;
};

std::vector<Device> test_devices(const std::string& spec) {
    std::vector<Device> out;
    size_t at = 0;
    while (at <= spec.size()) {
        size_t end = spec.find(';', at);
        if (end == std::string::npos) end = spec.size();
        std::string entry = spec.substr(at, end - at);
        at = end + 1;
        if (entry.size() < 6 || entry[4] != ':') continue;
        Device d;
        d.fourcc = fourcc(entry[0], entry[1], entry[2], entry[3]);
        std::string rest = entry.substr(5);
        if (d.fourcc == mjpeg || d.fourcc == jpeg) {
            d.path = rest;
            gdk_pixbuf_get_file_info(d.path.c_str(), &d.width, &d.height);
        } else if (d.fourcc == yuyv || d.fourcc == rgb24) {
            size_t colon = rest.find(':');
            if (colon == std::string::npos || std::sscanf(rest.c_str(), "%dx%d", &d.width, &d.height) != 2) continue;
            d.path = rest.substr(colon + 1);
        } else {
            continue;
        }
        const char* base = std::strrchr(d.path.c_str(), '/');
        d.name = "test " + std::string(base ? base + 1 : d.path.c_str());
        out.push_back(d);
    }
    return out;
}

}  // namespace

bool to_bgra(uint32_t format, const uint8_t* data, size_t length, int32_t width, int32_t height, int32_t stride,
             uint8_t* out) {
    if (width <= 0 || height <= 0 || !data) return false;
    if (format == mjpeg || format == jpeg) return jpeg_to_bgra(data, length, width, height, out);
    if (format != yuyv && format != rgb24) return false;
    // A YUYV row holds whole pairs of pixels.
    size_t row = format == yuyv ? size_t(width + 1) / 2 * 4 : size_t(width) * 3;
    size_t step = stride > 0 ? size_t(stride) : row;
    if (step < row || length < step * (height - 1) + row) return false;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = data + step * y;
        uint8_t* o = out + size_t(y) * width * 4;
        if (format == rgb24) {
            for (int32_t x = 0; x < width; ++x, s += 3, o += 4) o[0] = s[2], o[1] = s[1], o[2] = s[0], o[3] = 255;
            continue;
        }
        // Two pixels share one U and one V: Y0 U Y1 V.
        for (int32_t x = 0; x < width; x += 2, s += 4) {
            yuv_pixel(s[0], s[1], s[3], o + x * 4);
            if (x + 1 < width) yuv_pixel(s[2], s[1], s[3], o + (x + 1) * 4);
        }
    }
    return true;
}

std::vector<Device> list_devices(const std::string& folder) {
    if (const char* t = std::getenv("ZUV_TEST_CAMERA"); t && *t) return test_devices(t);
    std::vector<std::pair<long, std::string>> nodes;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const char* n = e->d_name;
            if (std::strncmp(n, "video", 5) != 0 || !n[5]) continue;
            char* end = nullptr;
            long number = std::strtol(n + 5, &end, 10);
            if (*end) continue;
            nodes.push_back({number, folder + "/" + n});
        }
        ::closedir(d);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<Device> out;
    for (auto& [number, path] : nodes) {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        // A camera's metadata node answers too, without the capture capability.
        if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0 && (capabilities(cap) & V4L2_CAP_VIDEO_CAPTURE)) {
            Device dev;
            dev.name.assign(reinterpret_cast<const char*>(cap.card), strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));
            if (dev.name.empty()) dev.name = path;
            dev.path = path;
            out.push_back(dev);
        }
        ::close(fd);
    }
    return out;
}

// ---- Capture ------------------------------------------------------------------------------------------

std::unique_ptr<Capture> Capture::open(const Device& device, std::string* error) {
    std::unique_ptr<Capture> c(new Capture);
    if (device.fourcc) {
        auto s = std::make_unique<FileSource>();
        if (!s->open(device, error)) return nullptr;
        c->source_ = std::move(s);
    } else {
        auto s = std::make_unique<V4l2Source>();
        if (!s->open(device.path, error)) return nullptr;
        c->source_ = std::move(s);
    }
    c->width_ = c->source_->width;
    c->height_ = c->source_->height;
    c->grabbed.assign(size_t(c->width_) * c->height_ * 4, 0);
    return c;
}

Capture::~Capture() { stop(); }

bool Capture::start(std::function<void()> frame_shown, std::function<void()> frame_grabbed, std::string* error) {
    if (running()) return true;
    if (!source_->begin(error)) return false;
    shown_ = std::move(frame_shown);
    grabbed_ = std::move(frame_grabbed);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void Capture::stop() {
    if (!running()) return;
    stopping_ = true;
    thread_.join();
    source_->end();
    stopping_ = false;
}

bool Capture::latest(std::vector<uint8_t>* out) {
    std::lock_guard<std::mutex> hold(latest_lock_);
    if (!has_latest_) return false;
    *out = latest_;
    return true;
}

void Capture::run() {
    std::vector<uint8_t> frame(size_t(width_) * height_ * 4);
    while (!stopping_) {
        bool got = false;
        int r = source_->next(100, [&](const uint8_t* data, size_t n) {
            got = to_bgra(source_->format, data, n, width_, height_, source_->stride, frame.data());
        });
        if (r < 0) break;  // the device went away: the picture stays as it was
        if (!got) continue;
        {
            std::lock_guard<std::mutex> hold(latest_lock_);
            latest_ = frame;
            has_latest_ = true;
        }
        int32_t expected = grab::wanted;
        if (state.compare_exchange_strong(expected, grab::copying)) {
            std::memcpy(grabbed.data(), frame.data(), std::min(grabbed.size(), frame.size()));
            state.store(grab::ready);
            std::atomic_thread_fence(std::memory_order_seq_cst);
            if (grabbed_) grabbed_();
        }
        if (shown_) shown_();
    }
}

}  // namespace zuv::gui::camera
