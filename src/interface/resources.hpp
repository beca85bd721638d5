#pragma once

namespace kelvra::interface {

// Registers the compiled-in resource bundles: the program's images
// (":/resources/icon.ico", ":/resources/copy.png") and the light and dark
// style sheets with their images (":qdarkstyle/light", ":qdarkstyle/dark").
// The bundles live in a static library, whose linker keeps them only when
// something calls this; start-up does, before anything loads a resource.
void register_resources();

// Removes what register_resources() added; called once at exit.
void unregister_resources();

} // namespace kelvra::interface
