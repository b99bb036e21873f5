// The shared library carries the whole static core; its export list (ocrb.map, ocrb.def)
// admits only the OCRB_ functions. This unit gives the target a source of its own.
