// Camera faces over test sources (ZUV_TEST_CAMERA names frame files fed through the grabber
// thread): device listing into `data`, selection, frames into image! checked pixel by pixel,
// the painted preview, and the paths without a device, with a bad index or a bad frame file.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib/gstdio.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/image.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "gui_fixture.h"
#include "ridi/backend/gtk/camera.h"

namespace zuv::testing {
namespace {

namespace cam = gui::camera;

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | r << 16 | g << 8 | b; }

// A 4x2 YUYV frame: black, white, red, red over green, green, blue, blue (studio-range colours).
const std::vector<uint8_t> yuyv_frame = {16, 128, 235, 128, 81, 90, 81, 240, 145, 54, 145, 34, 41, 240, 41, 110};
const std::vector<uint32_t> yuyv_pixels = {rgb(0, 0, 0),   rgb(255, 255, 255), rgb(255, 0, 0), rgb(255, 0, 0),
                                           rgb(0, 255, 1), rgb(0, 255, 1),     rgb(0, 0, 255), rgb(0, 0, 255)};

std::vector<uint32_t> words(const std::vector<uint8_t>& bgra) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i + 3 < bgra.size(); i += 4)
        out.push_back(uint32_t(bgra[i + 3]) << 24 | uint32_t(bgra[i + 2]) << 16 | uint32_t(bgra[i + 1]) << 8 | bgra[i]);
    return out;
}

std::vector<uint32_t> pixels_of(Cell img) {
    std::vector<uint32_t> out;
    int64_t n = int64_t(image::width(&img)) * image::height(&img);
    for (int64_t i = 0; i < n; ++i) out.push_back(image::get_pixel(&img, i));
    return out;
}

TEST(CameraFrames, ConvertToBgra) {
    std::vector<uint8_t> padded;  // the same frame with two bytes after each row
    for (int row = 0; row < 2; ++row) {
        padded.insert(padded.end(), yuyv_frame.begin() + row * 8, yuyv_frame.begin() + row * 8 + 8);
        padded.insert(padded.end(), {0xEE, 0xEE});
    }
    const std::vector<uint8_t> rgb24 = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    struct Case {
        const char* what;
        uint32_t format;
        const std::vector<uint8_t>* data;
        size_t length;
        int32_t w, h, stride;
        bool ok;
        std::vector<uint32_t> expect;
    } cases[] = {
        {"yuyv", cam::yuyv, &yuyv_frame, yuyv_frame.size(), 4, 2, 0, true, yuyv_pixels},
        {"yuyv with padded rows", cam::yuyv, &padded, padded.size(), 4, 2, 10, true, yuyv_pixels},
        {"yuyv of odd width", cam::yuyv, &yuyv_frame, yuyv_frame.size(), 3, 2, 8, true,
         {rgb(0, 0, 0), rgb(255, 255, 255), rgb(255, 0, 0), rgb(0, 255, 1), rgb(0, 255, 1), rgb(0, 0, 255)}},
        {"rgb24", cam::rgb24, &rgb24, rgb24.size(), 2, 2, 0, true,
         {rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255), rgb(10, 20, 30)}},
        {"short frame", cam::yuyv, &yuyv_frame, yuyv_frame.size() - 1, 4, 2, 0, false, {}},
        {"stride below a row", cam::yuyv, &yuyv_frame, yuyv_frame.size(), 4, 2, 6, false, {}},
        {"unknown format", cam::fourcc('N', 'V', '1', '2'), &yuyv_frame, yuyv_frame.size(), 4, 2, 0, false, {}},
        {"not a jpeg", cam::mjpeg, &yuyv_frame, yuyv_frame.size(), 4, 2, 0, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> out(size_t(c.w) * c.h * 4, 0);
        EXPECT_EQ(cam::to_bgra(c.format, c.data->data(), c.length, c.w, c.h, c.stride, out.data()), c.ok);
        if (c.ok) {
            EXPECT_EQ(words(out), c.expect);
        }
    }
}

TEST(CameraFrames, FitKeepsTheProportionsCentred) {
    struct Case {
        double w, h, r, x, y, vw, vh;
    } cases[] = {
        {100, 100, 16.0 / 9, 0, 21.875, 100, 56.25},  // wide stream: bars above and below
        {100, 100, 0.5, 25, 0, 50, 100},             // tall stream: bars left and right
        {200, 100, 4.0 / 3, 33.333, 0, 133.333, 100},  // wide stream, wider area: height bounds it
        {100, 300, 0.5, 0, 50, 100, 200},            // tall stream, taller area: width bounds it
    };
    for (const Case& c : cases) {
        double x, y, vw, vh;
        gui::camera_fit(c.w, c.h, c.r, &x, &y, &vw, &vh);
        EXPECT_NEAR(x, c.x, 0.01);
        EXPECT_NEAR(y, c.y, 0.01);
        EXPECT_NEAR(vw, c.vw, 0.01);
        EXPECT_NEAR(vh, c.vh, 0.01);
    }
}

struct TempDir {
    std::string path;
    std::vector<std::string> files;
    TempDir() {
        char tmpl[] = "/tmp/zuv-camera-XXXXXX";
        path = mkdtemp(tmpl);
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        files.push_back(p);
        return p;
    }
    ~TempDir() {
        for (auto& f : files) g_unlink(f.c_str());
        g_rmdir(path.c_str());
    }
};

TEST(CameraDevices, NodesThatDoNotCaptureAreNotListed) {
    unsetenv("ZUV_TEST_CAMERA");
    TempDir d;
    EXPECT_TRUE(cam::list_devices(d.path).empty());
    d.write("video0", {1, 2, 3});  // a plain file: no device answers
    std::string link = d.path + "/video1";
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);  // a device, but not for video
    d.files.push_back(link);
    d.write("videoX", {});
    EXPECT_TRUE(cam::list_devices(d.path).empty());
    EXPECT_TRUE(cam::list_devices("/no/such/folder").empty());
}

TEST(CameraDevices, TestSourcesAreReadFromTheEnvironment) {
    setenv("ZUV_TEST_CAMERA", "YUYV:4x2:/x/a.yuyv;nonsense;RGB3:2x1:/x/c:d.rgb;NV12:2x2:/x/e;YUYV:/x/f", 1);
    auto list = cam::list_devices();
    unsetenv("ZUV_TEST_CAMERA");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "test a.yuyv");
    EXPECT_EQ(list[0].width, 4);
    EXPECT_EQ(list[0].height, 2);
    EXPECT_EQ(list[1].path, "/x/c:d.rgb");
}

class Camera : public GuiTest {
protected:
    TempDir files;
    std::string yuyv_path, rgb_path;
    void SetUp() override {
        GuiTest::SetUp();
        yuyv_path = files.write("f.yuyv", yuyv_frame);
        rgb_path = files.write("g.rgb", {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30});
        setenv("ZUV_TEST_CAMERA", ("YUYV:4x2:" + yuyv_path + ";RGB3:2x2:" + rgb_path).c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZUV_TEST_CAMERA");
        eval("if block? system/ridi/screens [unview/all]");
        GuiTest::TearDown();
    }
    Cell camera_in_window(const std::string& spec) {
        Cell c = face("c", "type: 'camera offset: 0x0 size: 100x100 " + spec);
        Cell w = face("w", "type: 'window offset: 40x40 size: 100x100 pane: reduce [c]");
        realise(w);
        show(w);
        return c;
    }
    Cell snapshot(Cell c) {
        Cell img = *gui::capture(&c);
        return img;
    }
    std::string data_of(Cell c) {
        Cell m = eval("mold c/data");
        return string::to_utf8(&m);
    }
};

TEST_F(Camera, DevicesAreListedAndTheSelectedOneGivesItsFrames) {
    Cell c = camera_in_window("selected: 1");
    EXPECT_EQ(data_of(c), "[\"test f.yuyv\" \"test g.rgb\"]");
    Cell img = snapshot(c);
    ASSERT_TRUE(img.is(Type::image));
    EXPECT_EQ(image::width(&img), 4);
    EXPECT_EQ(image::height(&img), 2);
    EXPECT_EQ(pixels_of(img), yuyv_pixels);
    // Another device: the frame of the second source, at its size.
    eval("c/selected: 2");
    mark(c, 1u << gui::facet::selected);
    gui::update_ridi(&c);
    img = snapshot(c);
    ASSERT_TRUE(img.is(Type::image));
    EXPECT_EQ(pixels_of(img), (std::vector<uint32_t>{rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255), rgb(10, 20, 30)}));
}

TEST_F(Camera, ThePreviewIsCentredInProportionOnBlack) {
    Cell c = camera_in_window("selected: 1");
    GtkWidget* w = view(c)->widget;
    ASSERT_EQ(gtk_widget_get_allocated_width(w), dev(100));
    auto paint = [&] {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, dev(100), dev(100));
        cairo_t* cr = cairo_create(s);
        gtk_widget_draw(w, cr);
        cairo_destroy(cr);
        cairo_surface_flush(s);
        return s;
    };
    ASSERT_TRUE(wait_for([&] {
        cairo_surface_t* s = paint();
        auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
        bool drawn = (px[dev(62) * (cairo_image_surface_get_stride(s) / 4) + dev(62)] & 0xFFFFFF) != 0;
        cairo_surface_destroy(s);
        return drawn;
    }));
    cairo_surface_t* s = paint();
    // At a logical point of the face.
    auto at = [&](int x, int y) {
        return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s))[dev(y) * (cairo_image_surface_get_stride(s) / 4) +
                                                                           dev(x)] &
               0xFFFFFF;
    };
    // A 2:1 picture in a square: bars of a quarter above and below.
    EXPECT_EQ(at(50, 10), 0u);
    EXPECT_EQ(at(50, 90), 0u);
    // Inside the picture, near each pixel's centre (the scaling blends the edges a little).
    auto near = [](uint32_t got, uint32_t want) {
        for (int shift : {0, 8, 16})
            if (std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > 8) return false;
        return true;
    };
    EXPECT_PRED2(near, at(87, 37), 0xFF0000u);  // row 1, pixel 4: red
    EXPECT_PRED2(near, at(62, 62), 0x0000FFu);  // row 2, pixel 3: blue
    EXPECT_PRED2(near, at(12, 62), 0x00FF01u);  // row 2, pixel 1: green
    EXPECT_PRED2(near, at(37, 37), 0xFFFFFFu);  // row 1, pixel 2: white
    cairo_surface_destroy(s);
}

TEST_F(Camera, MjpegFramesAreDecoded) {
    GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 16, 8);
    guint8* p = gdk_pixbuf_get_pixels(pb);
    int rs = gdk_pixbuf_get_rowstride(pb);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            guint8* q = p + y * rs + x * 3;
            q[0] = x < 8 ? 255 : 0, q[1] = 0, q[2] = x < 8 ? 0 : 255;
        }
    std::string jpg = files.path + "/h.jpg";
    ASSERT_TRUE(gdk_pixbuf_save(pb, jpg.c_str(), "jpeg", nullptr, "quality", "100", nullptr));
    files.files.push_back(jpg);
    g_object_unref(pb);
    setenv("ZUV_TEST_CAMERA", ("MJPG:" + jpg).c_str(), 1);
    Cell c = camera_in_window("selected: 1");
    Cell img = snapshot(c);
    ASSERT_TRUE(img.is(Type::image));
    ASSERT_EQ(image::width(&img), 16);
    ASSERT_EQ(image::height(&img), 8);
    auto near = [](uint32_t got, uint32_t want) {
        for (int shift : {0, 8, 16})
            if (std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > 12) return false;
        return true;
    };
    EXPECT_PRED2(near, image::get_pixel(&img, 4 * 16 + 2), rgb(255, 0, 0));
    EXPECT_PRED2(near, image::get_pixel(&img, 4 * 16 + 13), rgb(0, 0, 255));
}

TEST_F(Camera, ANoneImageIsFilledWithTheNextFrame) {
    eval("cw: make face! [type: 'window size: 120x120 pane: reduce [cc: make face! [type: 'camera size: 100x100 "
         "selected: 1]]]  view/no-wait cw");
    eval("cc/image: none");
    EXPECT_TRUE(wait_for([] { return eval("image? cc/image").data1 != 0; }));
    Cell m = eval("mold reduce [cc/image/size  cc/image/1  cc/image/8]");
    EXPECT_EQ(string::to_utf8(&m), "[4x2 0.0.0.0 0.0.255.0]");
}

TEST_F(Camera, AnIndexOutsideTheListIsRefused) {
    eval("cw: make face! [type: 'window size: 120x120 pane: reduce [cc: make face! [type: 'camera size: 100x100 "
         "selected: 1]]]  view/no-wait cw");
    for (const char* bad : {"3", "0", "-1"}) {
        SCOPED_TRACE(bad);
        Cell m = eval(std::string("e: try [cc/selected: ") + bad + "]  mold reduce [e/id e/arg1]");
        EXPECT_EQ(string::to_utf8(&m), std::string("[cannot-open ") + bad + "]");
    }
}

TEST_F(Camera, AStoppedCameraGivesNoFrameAfterAboutThreeSeconds) {
    Cell c = camera_in_window("selected: 1");
    eval("c/selected: none");
    mark(c, 1u << gui::facet::selected);
    gui::update_ridi(&c);
    auto start = std::chrono::steady_clock::now();
    Cell img = snapshot(c);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(img.is(Type::none));
    EXPECT_GT(took, 2.5);
    EXPECT_LT(took, 6.0);
}

TEST_F(Camera, WithoutADeviceTheFaceStaysEmpty) {
    setenv("ZUV_TEST_CAMERA", "", 1);  // no test source: the real devices, of which there are none here
    if (!cam::list_devices().empty()) GTEST_SKIP() << "this machine has a capture device";
    ::testing::internal::CaptureStdout();
    Cell c = camera_in_window("");
    std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("No video capture hardware"), std::string::npos) << said;
    EXPECT_EQ(data_of(c), "[]");
    EXPECT_EQ(view(c)->camera, nullptr);
    EXPECT_TRUE(snapshot(c).is(Type::none));
    // Asking for a device there is none of is refused, never a crash.
    Cell m = eval("e: try [make-face: make face! [type: 'window size: 50x50 pane: reduce [make face! [type: 'camera "
                  "size: 40x40 selected: 1]]] view/no-wait make-face] mold reduce [e/id e/arg1]");
    EXPECT_EQ(string::to_utf8(&m), "[cannot-open 1]");
}

TEST_F(Camera, AFrameFileThatCannotBeReadLeavesTheFaceEmpty) {
    for (std::string source : std::vector<std::string>{"YUYV:4x2:/no/such/file", "YUYV:40x20:" + yuyv_path, "MJPG:" + yuyv_path}) {
        SCOPED_TRACE(source);
        setenv("ZUV_TEST_CAMERA", source.c_str(), 1);
        ::testing::internal::CaptureStdout();
        Cell c = camera_in_window("selected: 1");
        std::string said = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(said.find("This device cannot preview!"), std::string::npos) << said;
        EXPECT_TRUE(snapshot(c).is(Type::none));
        eval("if block? system/ridi/screens [unview/all]");
        Cell w = named("w");
        gui::destroy_ridi(&w, false);
        pump();
    }
}

}  // namespace
}  // namespace zuv::testing
