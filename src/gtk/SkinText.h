#pragma once
// Text on skins. Texts arrive here as UTF-8 (the windows decode the core's code-page bytes
// before); fonts are asked for by the face the skin names, with fallbacks that cover Korean
// and Chinese through fontconfig.

#include <cstdint>
#include <string>

#include <cairomm/context.h>
#include <pangomm/fontdescription.h>
#include <pangomm/layout.h>

// A font of `face` (empty: the platform's choice) with CJK fallbacks, `height` pixels high,
// of the given weight (400 regular, 956 heavy).
Pango::FontDescription SkinFont(const std::string& face, int height, int weight = 400);

// Draws a single line of `utf8` with its top at `top`, centred horizontally on `centreX`.
// With `cellWidth` > 0 the text is squeezed or widened so that an average character is that
// wide, as a font of fixed cell width would be.
void DrawCentredText(const Cairo::RefPtr<Cairo::Context>& cr, const std::string& utf8,
                     const Pango::FontDescription& font, std::uint32_t rgb, double centreX,
                     double top, int cellWidth = 0);
// Width and height in pixels of one line of `utf8`.
void MeasureText(const Cairo::RefPtr<Cairo::Context>& cr, const std::string& utf8,
                 const Pango::FontDescription& font, int cellWidth, double* width, double* height);
