#include "osd.h"

#include "SDL_ttf.h"
#include "controls.h"

#include <algorithm>
#include <cstring>

static const char font_path[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Laid out for one size of the picture's area; made again when it changes.
static TTF_Font* font;
static bool font_tried;
static int32_t laid_width, laid_height;
static int32_t unit; // margins and the progress line's thickness
static int32_t bar_height;
// The clock is drawn from one surface per character, made with the font, so
// that its ticking makes no new surfaces.
static const char clock_characters[] = "0123456789:/ -";
static SDL_Surface* clock_glyphs[sizeof clock_characters - 1];
// The label is rendered when its text changes, which happens only on a key.
static SDL_Surface* label_surface;
static char label_text[512];
// The progress line last drawn, for clicks.
static SDL_Rect progress_line;
static int32_t progress_top, progress_bottom;

static void free_text() {
    for (SDL_Surface*& g : clock_glyphs) {
        SDL_FreeSurface(g);
        g = nullptr;
    }
    SDL_FreeSurface(label_surface);
    label_surface = nullptr;
    label_text[0] = 0;
    if (font) TTF_CloseFont(font);
    font = nullptr;
}

static const SDL_Color text_color = {255, 255, 255, 0};

// The font grows with the picture's width, so that the bar reads the same in
// a small window and in fullscreen, and shrinks when the bar would cover more
// than a quarter of the picture's height.
static void lay_out(int32_t width, int32_t height) {
    free_text();
    laid_width = width;
    laid_height = height;
    if (!font_tried && !TTF_WasInit()) TTF_Init();
    for (int32_t size = std::clamp(width / 22, 6, 72);; --size) {
        unit = std::max(1, size / 4);
        if (font) TTF_CloseFont(font);
        font = TTF_WasInit() ? TTF_OpenFont(font_path, size) : nullptr;
        int32_t text_height = font ? TTF_FontHeight(font) : size;
        bar_height = 4 * unit + text_height;
        if (bar_height <= height / 4 || size <= 6) break;
    }
    font_tried = true;
    bar_height = std::min(bar_height, height / 4);
    if (!font) return;
    for (size_t i = 0; i < sizeof clock_glyphs / sizeof clock_glyphs[0]; ++i) {
        char one[2] = {clock_characters[i], 0};
        clock_glyphs[i] = TTF_RenderUTF8_Blended(font, one, text_color);
    }
}

// Halves every channel of the pixels under rect: the picture stays visible
// through the bar, and no colour but black can swallow the text.
static void darken(SDL_Surface* screen, const SDL_Rect& rect) {
    const SDL_PixelFormat* f = screen->format;
    if (f->BytesPerPixel != 2) return;
    const uint32_t keep =
        ((f->Rmask >> 1) & f->Rmask) | ((f->Gmask >> 1) & f->Gmask) | ((f->Bmask >> 1) & f->Bmask);
    for (int32_t y = rect.y; y < rect.y + rect.h; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(screen->pixels) +
                                                size_t(y) * screen->pitch) +
                    rect.x;
        for (int32_t x = 0; x < rect.w; ++x) row[x] = uint16_t((row[x] >> 1) & keep);
    }
}

static void fill(SDL_Surface* screen, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t grey) {
    SDL_Rect r = {Sint16(x), Sint16(y), Uint16(std::max(w, 0)), Uint16(std::max(h, 0))};
    SDL_FillRect(screen, &r, SDL_MapRGB(screen->format, grey, grey, grey));
}

static void blit_at(SDL_Surface* text, SDL_Surface* screen, int32_t x, int32_t y) {
    SDL_Rect to = {Sint16(x), Sint16(y), 0, 0};
    SDL_BlitSurface(text, nullptr, screen, &to);
}

// Draws the clock from its glyphs; returns where it ends.
static int32_t draw_clock(SDL_Surface* screen, const char* text, int32_t x, int32_t y) {
    for (const char* c = text; *c; ++c) {
        const char* at = strchr(clock_characters, *c);
        SDL_Surface* g = at ? clock_glyphs[at - clock_characters] : nullptr;
        if (!g) continue;
        blit_at(g, screen, x, y);
        x += g->w;
    }
    return x;
}

void osd_draw(SDL_Surface* screen, const SDL_Rect& area, const osd_status& status) {
    if (area.w != laid_width || area.h != laid_height) lay_out(area.w, area.h);
    if (bar_height < 3 * unit) return;
    SDL_Rect bar = {area.x, Sint16(area.y + area.h - bar_height), area.w, Uint16(bar_height)};
    // The glyphs' own blits lock and unlock the screen themselves.
    if (SDL_MUSTLOCK(screen)) SDL_LockSurface(screen);
    darken(screen, bar);
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);

    const int32_t left = bar.x + 2 * unit, width = bar.w - 4 * unit;
    progress_line = {Sint16(left), Sint16(bar.y + unit), Uint16(std::max(width, 0)), Uint16(unit)};
    // The line is thin; clicks count down to the middle of the text below it.
    progress_top = bar.y;
    progress_bottom = bar.y + 3 * unit + (bar_height - 4 * unit) / 2;
    int32_t done = 0;
    if (status.length > 0 && status.time > 0)
        done = int32_t(int64_t(width) * std::min(status.time, status.length) / status.length);
    fill(screen, left, bar.y + unit, done, unit, 230);
    fill(screen, left + done, bar.y + unit, width - done, unit, 100);
    if (!font) return;

    char clock[64];
    format_osd_clock(status.time, status.length, clock, sizeof clock);
    const int32_t text_y = bar.y + 3 * unit;
    const int32_t clock_end = draw_clock(screen, clock, left, text_y);
    if (strcmp(label_text, status.label) != 0) {
        SDL_FreeSurface(label_surface);
        snprintf(label_text, sizeof label_text, "%s", status.label);
        label_surface =
            label_text[0] ? TTF_RenderUTF8_Blended(font, label_text, text_color) : nullptr;
    }
    if (!label_surface) return;
    // Right-aligned; a label too long for the room left keeps its start.
    const int32_t room = left + width - (clock_end + 3 * unit);
    if (room <= 0) return;
    SDL_Rect part = {0, 0, Uint16(std::min(room, label_surface->w)), Uint16(label_surface->h)};
    SDL_Rect to = {Sint16(left + width - part.w), Sint16(text_y), 0, 0};
    SDL_BlitSurface(label_surface, &part, screen, &to);
}

double osd_progress_at(int x, int y) {
    if (progress_line.w == 0 || y < progress_top || y >= progress_bottom) return -1;
    if (x < progress_line.x || x >= progress_line.x + progress_line.w) return -1;
    return double(x - progress_line.x) / progress_line.w;
}

void osd_stop() {
    free_text();
    if (TTF_WasInit()) TTF_Quit();
}
