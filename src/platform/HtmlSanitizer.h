// Makes HTML from a feed fit to show in the reading pane.
//
// Titles and descriptions of feeds are HTML written by anyone. Before they
// reach the page they pass through one allow-list: ordinary article markup
// (paragraphs, lists, emphasis, links, images, tables, code, quotes,
// headings, figures) stays; everything that could act, load, restyle or
// navigate goes:
//  * script, style, frames, objects, embeds, applets, forms and their
//    controls, base, meta, link, SVG and MathML are removed. Script, style
//    and the like are dropped with their content; other unknown or removed
//    containers give way to their (cleaned) children;
//  * only a short list of harmless attributes stays: never style, class,
//    id, event handlers or targets;
//  * a link address must be http, https or mailto, an image address http
//    or https; addresses without a scheme are kept (they resolve against the
//    page's base, the feed's site), any other scheme removes the attribute.
//
// The result is well-formed HTML text built from the parsed tree, never a
// copy of the input, so nothing the parser did not recognise slips through.
// Parsing uses libxml2's HTML parser without network access.
//
// Plain C++20, no Qt.
#pragma once

#include <string>
#include <string_view>

namespace html {

// The sanitised form of an HTML fragment (UTF-8 in, UTF-8 out). Plain text
// comes back with <, > and & escaped.
std::string SanitizeFragment(std::string_view fragment);

// True when `url` may be followed as a link: http, https, mailto, or an
// address without a scheme.
bool IsSafeLinkUrl(std::string_view url);
// True when `url` may be loaded as an image: http, https, or an address
// without a scheme.
bool IsSafeImageUrl(std::string_view url);

}  // namespace html
