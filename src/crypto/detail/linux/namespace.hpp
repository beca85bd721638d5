#pragma once

// GNU dialects predefine `linux` as a macro; the namespace
// kelvra::crypto::detail::linux needs the name. Every header of that
// namespace includes this one first.
#ifdef linux
#undef linux
#endif
