// The drawing engine's C++ side: the pixel conversions between image! and Cairo, and the
// doors the GTK backend paints faces through (a Cairo context already in the face's space).
#include <cairo.h>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "reader/lexer-load.h"
#include "ridi/draw/draw-context.h"
#include "ridi/draw/draw.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

namespace zuv {
namespace {

using testing::RuntimeTest;

// Straight colour survives the trip to premultiplied and back within the precision the alpha
// leaves; opaque and fully transparent pixels come back exactly.
TEST(DrawPixels, PremultipliedRoundTrip) {
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t v : {0u, 1u, 77u, 128u, 200u, 255u}) {
            uint32_t p = (a << 24) | (v << 16) | ((255 - v) << 8) | (v / 2), q, back;
            draw::premultiply(&p, &q, 1);
            EXPECT_LE((q >> 16) & 0xFF, a) << "premultiplied components never exceed alpha";
            draw::unpremultiply(&q, &back, 1);
            if (a == 0) {
                EXPECT_EQ(back, 0u);
                continue;
            }
            EXPECT_EQ(back >> 24, a);
            int tolerance = a == 255 ? 0 : static_cast<int>(255 / a) + 1;
            for (int shift : {0, 8, 16}) {
                int want = (p >> shift) & 0xFF, got = (back >> shift) & 0xFF;
                EXPECT_NEAR(got, want, tolerance) << "alpha " << a << " value " << v;
            }
        }
    }
}

class DrawOnCairo : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40);
        cr = cairo_create(surface);
        // The backend hands over a context in the face's space: here a face at 10x10.
        cairo_translate(cr, 10, 10);
    }
    void TearDown() override {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    Cell block(const char* text) {
        Cell* b = block::push_new(8);
        lexer::load_into(b, text);
        return *b;
    }
    uint32_t pixel(int x, int y) {
        cairo_surface_flush(surface);
        auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) +
                                                y * cairo_image_surface_get_stride(surface));
        return row[x];
    }
    cairo_surface_t* surface;
    cairo_t* cr;
};

TEST_F(DrawOnCairo, DrawsInTheFaceSpaceAndLeavesTheContextAsItWas) {
    Cell cmds = block("pen off fill-pen 255.0.0 box 0x0 5x5 translate 20x0 reset-matrix fill-pen 0.0.255 box 20x20 25x25 scale 0 0");
    cairo_matrix_t before, after;
    cairo_get_matrix(cr, &before);
    EXPECT_TRUE(draw::draw_on_cairo(cr, &cmds, false));
    cairo_get_matrix(cr, &after);
    EXPECT_EQ(before.x0, after.x0);
    EXPECT_EQ(before.xx, after.xx);
    EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(pixel(12, 12), 0xFFFF0000u);
    EXPECT_EQ(pixel(2, 2), 0u) << "nothing at the device origin";
    // reset-matrix returns to the face's space, not to the device's.
    EXPECT_EQ(pixel(32, 32), 0xFF0000FFu);
    EXPECT_EQ(pixel(22, 22), 0u);
}

TEST_F(DrawOnCairo, ErrorsArePrintedWhenCaughtAndPassedOnOtherwise) {
    Cell bad = block("pen off fill-pen 0.255.0 box 0x0 5x5 bogus");
    Cell* top = stack::arguments_top;
    EXPECT_FALSE(draw::draw_on_cairo(cr, &bad, true));
    EXPECT_EQ(stack::arguments_top, top) << "the stack comes back as it was";
    EXPECT_EQ(pixel(12, 12), 0xFF00FF00u) << "what was drawn before the error stays";
    EXPECT_THROW(draw::draw_on_cairo(cr, &bad, false), runtime::Throw);
    stack::arguments_top = top;
    Cell none_cell{static_cast<uint32_t>(Type::none), 0, 0, 0};
    EXPECT_TRUE(draw::draw_on_cairo(cr, &none_cell, false)) << "a missing block draws nothing";
}

TEST_F(DrawOnCairo, AFacePaintsItsColourImageAndDrawBlock) {
    Cell spec = block("type: base size: 20x20 color: 0.0.255 text: none image: none font: none");
    Cell face;
    object::construct(&spec, nullptr, &face);
    stack::push(&face);
    Cell cmds = block("pen off fill-pen 255.0.0 box 0x0 5x5");
    EXPECT_TRUE(draw::draw_face(cr, &face, &cmds, false));
    EXPECT_EQ(pixel(12, 12), 0xFFFF0000u);
    EXPECT_EQ(pixel(20, 20), 0xFF0000FFu);
    // The colour covers the context's clip: the backend clips to the face.
    Cell clear = block("type: base size: 20x20 color: none");
    object::construct(&clear, nullptr, &face);
    EXPECT_TRUE(draw::draw_face(cr, &face, nullptr, false));
    EXPECT_EQ(pixel(20, 20), 0u) << "a face without a colour is transparent";
}

// A window's surface need not be an image: shadows are made aside and still land on it.
TEST_F(DrawOnCairo, ShadowsLandOnASurfaceThatIsNoImage) {
    cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* rc = cairo_create(recording);
    Cell cmds = block("shadow 4x4 0 0 0.0.0 pen off fill-pen 255.0.0 box 2x2 10x10");
    EXPECT_TRUE(draw::draw_on_cairo(rc, &cmds, false));
    cairo_destroy(rc);
    cairo_set_source_surface(cr, recording, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(recording);
    EXPECT_EQ(pixel(15, 15), 0xFFFF0000u) << "the shape";
    EXPECT_EQ(pixel(22, 22), 0xFF000000u) << "its shadow, beyond it";
    EXPECT_EQ(pixel(30, 30), 0u);
}

}  // namespace
}  // namespace zuv
