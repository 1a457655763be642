// placeholder so the library has a translation unit until its code lands
