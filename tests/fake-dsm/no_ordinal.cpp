// A library called TWAIN_32.DLL that exports nothing at ordinal 1, like a broken or foreign
// DSM: the extension must stay unbound.
extern "C" int __stdcall NotTheEntry() { return 0; }
