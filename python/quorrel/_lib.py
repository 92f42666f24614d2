# _lib.py -- loads the engine's shared library and declares every call of em/em.h
# with its C argument and result types
import ctypes
import os

# The library's soname: its major version, which a binding must match.
SONAME = "libquorrel-em.so.0"


class em_sample(ctypes.Structure):
    """One sound of the sample bank (em_sample of em/em.h)."""

    _fields_ = [
        ("data", ctypes.POINTER(ctypes.c_int32)),  # length x channels values, interleaved
        ("handle", ctypes.c_int32),
        ("bytes", ctypes.c_int32),
        ("length", ctypes.c_int32),  # frames
        ("channels", ctypes.c_int32),  # 1 or 2
        ("rate", ctypes.c_int32),  # Hz
        ("step", ctypes.c_int32),  # 16.16 source frames per output frame
    ]


class em_event(ctypes.Structure):
    """What ended, looped or switched in the mixer (em_event of em/em.h)."""

    _fields_ = [
        ("type", ctypes.c_int32),  # EME_*
        ("handle", ctypes.c_int32),  # the node it happened to
        ("sample", ctypes.c_int32),  # EME_VOICEEND: the sample-bank number played
        ("sampleclock", ctypes.c_uint32),  # the sample clock of the frame it happened at
    ]


# The log hook's type: void (*)(int level, const char* line, void* user).
em_logfunc = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p)

_int, _i32, _u32, _float = ctypes.c_int, ctypes.c_int32, ctypes.c_uint32, ctypes.c_float
_str, _block, _node = ctypes.c_char_p, ctypes.c_void_p, ctypes.c_void_p  # em_node* stays opaque
_floats, _ints = ctypes.POINTER(ctypes.c_float), ctypes.POINTER(ctypes.c_int)
_sample = ctypes.POINTER(em_sample)

# Every public call of em/em.h: name -> (result type, argument types). A call
# added to the header is added here (the tests compare this table with it).
SIGNATURES = {
    # start and stop, clocks
    "em_init": (_int, []),
    "em_initoffline": (_int, []),
    "em_render": (_int, [ctypes.POINTER(ctypes.c_int16), _i32]),
    "em_deinit": (None, []),
    "em_getsampleclock": (_u32, []),
    "em_getmsclock": (_u32, []),
    # the log hook and end events
    "em_setlogfunc": (None, [em_logfunc, _block]),
    "em_pollevent": (_int, [ctypes.POINTER(em_event)]),
    "em_lostevents": (_i32, []),
    # the node tree and parameters
    "em_getroot": (_int, []),
    "em_isnode": (_int, [_int]),
    "em_getparent": (_int, [_int]),
    "em_getchild": (_int, [_int]),
    "em_getnext": (_int, [_int]),
    "em_getprev": (_int, [_int]),
    "em_freenode": (_int, [_int]),
    "em_setparam": (_int, [_int, _int, _i32]),
    "em_getparam": (_int, [_int, _int]),
    "em_setparamf": (_int, [_int, _int, _float]),
    "em_getparamf": (_float, [_int, _int]),
    "em_setparamv": (_int, [_int, _int, _floats]),
    "em_getparamv": (_int, [_int, _int, _floats]),
    "em_setparam3f": (_int, [_int, _int, _float, _float, _float]),
    "em_getparam3f": (_int, [_int, _int, _floats, _floats, _floats]),
    "em_setparamp": (_int, [_int, _int, _block]),
    "em_getparamp": (_int, [_int, _int, _block]),
    "em_pause": (_int, [_int, _int]),
    "em_fade": (_int, [_int, _i32, _i32, _int]),
    # the sample bank
    "em_loadsample": (_int, [_str]),
    "em_loadoggsample": (_int, [_str]),
    "em_loadsound": (_int, [_str]),
    "em_loadsamplemem": (_int, [_block, _i32]),
    "em_loadsampleraw": (_int, [ctypes.POINTER(ctypes.c_int16), _i32, _int, _i32]),
    "em_writewav": (_int, [_str, ctypes.POINTER(ctypes.c_int16), _i32, _int, _i32]),
    "em_sampleerror": (_str, []),
    "em_freesample": (None, [_int]),
    "em_validsample": (_int, [_int]),
    "em_getsample": (_sample, [_int]),
    "em_findzero": (_i32, [_sample, _i32, _int, _ints]),
    "em_compareregions": (_int, [_sample, _i32, _i32, _i32]),
    "em_checkloop": (_int, [_sample, _i32, _i32]),
    # node types
    "em_createsampler": (_int, [_int, _int]),
    "em_triggersample": (_int, [_int, _int]),
    "em_triggersampleat": (_int, [_int, _int, _u32]),
    "em_createoggmusic": (_int, [_int]),
    "em_playoggmusic": (_int, [_int, _str]),
    "em_stopoggmusic": (None, [_int]),
    "em_createsampler3d": (_int, [_int, _int]),
    "em_triggersample3d": (_int, [_int, _int]),
    "em_triggersample3dclock": (_int, [_int, _int, _u32]),
    "em_triggersample3dat": (_int, [_int, _int, _floats, _floats]),
    "em_createsequencer": (_int, [_int, _int, _int]),
    # effect nodes and sends
    "em_createeffect": (_int, [_int, _int]),
    "em_setsend": (_int, [_int, _int, _i32]),
}


def _open():
    """The library: QUORREL_LIBRARY when set, else the one installed beside this
    package, else the one the dynamic linker finds (LD_LIBRARY_PATH, ld.so.conf)."""
    path = os.environ.get("QUORREL_LIBRARY")
    if not path:
        beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), SONAME)
        path = beside if os.path.exists(beside) else SONAME
    try:
        return ctypes.CDLL(path, use_errno=True)
    except OSError as error:
        raise ImportError(f"quorrel: cannot load the engine's library {path} ({error}); install the engine, "
                          f"put {SONAME} beside the quorrel package or name it in QUORREL_LIBRARY") from None


def load():
    """The loaded library with every call of SIGNATURES declared."""
    lib = _open()
    for name, (restype, argtypes) in SIGNATURES.items():
        call = getattr(lib, name)
        call.restype, call.argtypes = restype, argtypes
    return lib
