/* The drawing of bench/draw.zuv made by calling Cairo directly: the floor for drawing through
   Cairo. Build: cc -O2 bench/draw-cairo.c $(pkg-config --cflags --libs cairo) -lm
   Prints the drawing's time in milliseconds (the surface made and filled white included);
   given a file name, also writes the picture there as PNG. */
#include <cairo.h>
#include <math.h>
#include <stdio.h>
#include <time.h>

static int seed = 1;
static int rnd(int n) {
    seed = (75 * seed + 74) % 65537;
    return seed % n;
}

static double line_width = 1;
static double pen[3], fill[3];
static int fill_on = 0;

static void paint(cairo_t* cr, int fill_allowed) {
    if (fill_allowed && fill_on) {
        cairo_set_source_rgb(cr, fill[0], fill[1], fill[2]);
        cairo_fill_preserve(cr);
    }
    cairo_set_line_width(cr, line_width);
    cairo_set_source_rgb(cr, pen[0], pen[1], pen[2]);
    cairo_stroke(cr);
}

int main(int argc, char** argv) {
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1000, 1000);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_miter_limit(cr, 10);
    for (int i = 0; i < 10000; ++i) {
        double x1, y1, x2, y2, x3, y3, x4, y4, r, rx, ry;
        switch (i % 10) {
            case 0: pen[0] = rnd(256) / 255.0; pen[1] = rnd(256) / 255.0; pen[2] = rnd(256) / 255.0; break;
            case 1: fill[0] = rnd(256) / 255.0; fill[1] = rnd(256) / 255.0; fill[2] = rnd(256) / 255.0; fill_on = 1; break;
            case 2:
                x1 = rnd(1000); y1 = rnd(1000); x2 = rnd(1000); y2 = rnd(1000);
                cairo_rectangle(cr, fmin(x1, x2), fmin(y1, y2), fabs(x2 - x1), fabs(y2 - y1));
                paint(cr, 1);
                break;
            case 3:
                x1 = rnd(1000); y1 = rnd(1000); x2 = rnd(1000); y2 = rnd(1000); x3 = rnd(1000); y3 = rnd(1000);
                cairo_move_to(cr, x1, y1); cairo_line_to(cr, x2, y2); cairo_line_to(cr, x3, y3);
                paint(cr, 1);
                break;
            case 4:
                x1 = rnd(1000); y1 = rnd(1000); r = 1 + rnd(100);
                cairo_new_sub_path(cr); cairo_arc(cr, x1, y1, r, 0, 2 * M_PI); cairo_close_path(cr);
                paint(cr, 1);
                break;
            case 5:
                x1 = rnd(1000); y1 = rnd(1000); x2 = rnd(1000); y2 = rnd(1000); x3 = rnd(1000); y3 = rnd(1000);
                cairo_move_to(cr, x1, y1); cairo_line_to(cr, x2, y2); cairo_line_to(cr, x3, y3); cairo_close_path(cr);
                paint(cr, 1);
                break;
            case 6:
                x1 = rnd(1000); y1 = rnd(1000); rx = (1 + rnd(200)) / 2.0; ry = (1 + rnd(200)) / 2.0;
                cairo_save(cr); cairo_translate(cr, x1 + rx, y1 + ry); cairo_scale(cr, rx, ry);
                cairo_new_sub_path(cr); cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI); cairo_close_path(cr);
                cairo_restore(cr);
                paint(cr, 1);
                break;
            case 7: line_width = 1 + rnd(4); break;
            case 8:
                x1 = rnd(1000); y1 = rnd(1000); rx = 1 + rnd(100); ry = 1 + rnd(100);
                cairo_save(cr); cairo_translate(cr, x1, y1); cairo_scale(cr, rx, ry);
                cairo_new_sub_path(cr); cairo_arc(cr, 0, 0, 1, 0, 1.5 * M_PI);
                cairo_restore(cr);
                paint(cr, 0);
                break;
            case 9:
                x1 = rnd(1000); y1 = rnd(1000); x2 = rnd(1000); y2 = rnd(1000);
                x3 = rnd(1000); y3 = rnd(1000); x4 = rnd(1000); y4 = rnd(1000);
                cairo_move_to(cr, x1, y1); cairo_curve_to(cr, x2, y2, x3, y3, x4, y4);
                paint(cr, 0);
                break;
        }
    }
    cairo_surface_flush(s);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    printf("%ld\n", (long)((t1.tv_sec - t0.tv_sec) * 1000 + (t1.tv_nsec - t0.tv_nsec) / 1000000));
    if (argc > 1) cairo_surface_write_to_png(s, argv[1]);  /* to compare with Zuv's picture */
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return 0;
}
