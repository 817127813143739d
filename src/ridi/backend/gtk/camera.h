// Video capture for camera faces. The device layer (camera.cpp) lists V4L2 capture devices,
// opens one and runs a grabber thread that turns each frame into 32-bit BGRA; it knows no
// GUI and no language values. The face layer (camera-face.cpp) shows the picture in a camera
// face and hands frames to the language as image! values, on the GUI thread only.
#pragma once
#include <gtk/gtk.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "memory/cell.h"
#include "ridi/backend/gtk/backend.h"

namespace zuv::gui::camera {

// ---- devices -------------------------------------------------------------------------------------

struct Device {
    std::string name;  // what the face's `data` lists
    std::string path;  // the device node, or the frame file of a test source
    uint32_t fourcc = 0;  // test sources: the frame file's pixel format
    int32_t width = 0, height = 0;
};

// The capture devices: the video* nodes of a folder that answer as video capture devices, in
// the order of their numbers. When ZUV_TEST_CAMERA is set, its test sources instead: entries
// separated by ';', each "YUYV:WxH:file" or "RGB3:WxH:file" (a raw frame) or "MJPG:file" (a
// JPEG picture); each feeds its one frame again and again.
std::vector<Device> list_devices(const std::string& folder = "/dev");

// Four-character pixel format codes.
constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t yuyv = fourcc('Y', 'U', 'Y', 'V'), mjpeg = fourcc('M', 'J', 'P', 'G'),
                   jpeg = fourcc('J', 'P', 'E', 'G'), rgb24 = fourcc('R', 'G', 'B', '3');

// A frame of the device's format into width x height BGRA pixels (alpha 255). `stride` is the
// source's bytes per line (0: packed). False when the data cannot be read as such a frame;
// a compressed picture of another size is cut or padded with black.
bool to_bgra(uint32_t format, const uint8_t* data, size_t length, int32_t width, int32_t height, int32_t stride,
             uint8_t* out);

// ---- capture -------------------------------------------------------------------------------------

// Where a frame handed to the GUI thread stands. Only the grabber moves 1 to 3 and 3 to 2; the
// GUI thread takes a frame back by 1 to 0, or after it has seen 2.
namespace grab {
constexpr int32_t idle = 0, wanted = 1, ready = 2, copying = 3;
}

class Source;

// An open device streaming on its grabber thread.
class Capture {
public:
    // Opens and sets up the device; null with the reason in `error` when it cannot capture.
    static std::unique_ptr<Capture> open(const Device& device, std::string* error);
    ~Capture();

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // Starts or stops the grabber thread. `frame_shown` runs on that thread after each new
    // picture; `frame_grabbed` after a wanted frame was copied into the grab buffer.
    bool start(std::function<void()> frame_shown, std::function<void()> frame_grabbed, std::string* error);
    void stop();
    bool running() const { return thread_.joinable(); }

    // The newest picture (width x height BGRA); false before the first one.
    bool latest(std::vector<uint8_t>* out);

    // The hand-over of one frame to the GUI thread (grab:: states).
    std::atomic<int32_t> state{grab::idle};
    std::vector<uint8_t> grabbed;  // written only by the grabber between states 3 and 2

private:
    Capture() = default;
    void run();

    std::unique_ptr<Source> source_;
    int32_t width_ = 0, height_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex latest_lock_;
    std::vector<uint8_t> latest_;
    bool has_latest_ = false;
    std::function<void()> shown_, grabbed_;
};

}  // namespace zuv::gui::camera

namespace zuv::gui {

// ---- the camera face (camera-face.cpp) -----------------------------------------------------------

bool camera_q(const Cell* type);
// The camera face's native view: a drawing area painted with the picture.
GtkWidget* camera_widget();
// Set-up once the view is attached: the device names into `data`, and the device that
// `selected` names opened and started. Raises cannot-open for a `selected` outside the list.
void camera_open(View* v, Cell* face);
// `selected` changed: an integer opens that device and starts it, none stops the camera.
void camera_selected(View* v, Cell* face);
// `image` changed: when it is none, the next frame is wanted and lands there.
void camera_image(View* v, Cell* face);
// The current frame as a new image! pushed on the argument stack, or none (no device, or no
// frame within about three seconds).
Cell* camera_snapshot(View* v);
// Stops the capture and frees the device.
void camera_close(View* v);
// Where the picture goes in a client area of w x h for a stream of aspect ratio r (width /
// height): centred, as large as fits.
void camera_fit(double w, double h, double r, double* x, double* y, double* vw, double* vh);

}  // namespace zuv::gui
