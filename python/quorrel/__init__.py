# __init__.py -- the quorrel package: the audio engine from Python. quorrel.c is
# the engine's C library with every call of em/em.h declared, callable as it is;
# Engine, its nodes and samples are the same calls in Python's clothes.
import collections
import ctypes
import os

import numpy as np

from . import _lib
from ._constants import *  # noqa: F401,F403 (EMP_*, EMF_*, EMS_*, EM_*)
from ._constants import (EM_FADEKEEP, EM_SEQCHANNELS, EMP_CHANNEL, EMP_CHANNELNODE, EMP_DEFVOLUME, EMP_FLAGS, EMP_FORWARD3D, EMP_LENGTH,
                         EMP_LENGTHMS, EMP_LOOPCOUNT, EMP_PAN, EMP_PATTERN, EMP_PAUSED, EMP_PITCH, EMP_POSITION, EMP_POSITION3D, EMP_POSITION3DB,
                         EMP_POSITIONMS,                         EMP_RATE, EMP_RIGHT3D, EMP_RUN, EMP_SAMPLE, EMP_STATE, EMP_STEPS, EMP_UP3D, EMP_VELOCITY3D,
                         EMP_VELOCITY3DB, EMP_VOLUME)

c = _lib.load()
RATE = 44100  # frames per second of every render

# The reasons behind em_initoffline's failure values.
_STARTFAILURES = {-3: "no memory for the sample bank", -4: "no memory for the node table",
                  -5: "the engine is already running", -6: "no memory for the event ring"}


class EngineError(Exception):
    """A call the engine refused; reason says why in the engine's words."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


class NotStartedError(EngineError):
    """A call made while the engine is not running (before start or after stop)."""


class HandleError(EngineError):
    """A node or sample handle that names nothing (freed, never made), or a
    parameter the node does not take."""


class SampleError(EngineError):
    """A sound file the sample bank could not load; reason is em_sampleerror()."""


def _running():
    if not c.em_getroot():
        raise NotStartedError("the engine is not running: start an Engine first")


def _path(name):
    return name if isinstance(name, bytes) else str(name).encode()


class Sample:
    """A sound of the sample bank: handle, length (frames), channels, rate (Hz)."""

    def __init__(self, handle):
        self.handle = handle

    def _record(self):
        _running()
        record = c.em_getsample(self.handle)
        if not record:
            raise HandleError(f"sample {self.handle} does not exist")
        return record.contents

    length = property(lambda self: self._record().length)
    channels = property(lambda self: self._record().channels)
    rate = property(lambda self: self._record().rate)

    def free(self):
        self._record()
        c.em_freesample(self.handle)

    def __repr__(self):
        return f"<quorrel.Sample {self.handle}>"


def _param(pid, doc):
    """An int parameter as a property."""
    return property(lambda self: self.get(pid), lambda self, value: self.set(pid, value), doc=doc)


def _vector(pid, doc):
    """A 3-vector parameter as a property of (x, y, z)."""
    return property(lambda self: self.getv(pid), lambda self, value: self.setv(pid, value), doc=doc)


class Node:
    """A node of the engine's tree, named by its handle. The parameter calls
    raise HandleError when the node is gone or does not take the parameter."""

    def __init__(self, handle):
        self.handle = handle

    def _check(self, result, what):
        if result == -1:
            self._exists()
            raise HandleError(f"node {self.handle} does not take {what}")
        return result

    def _exists(self):
        _running()
        if not c.em_isnode(self.handle):
            raise HandleError(f"node {self.handle} does not exist")

    def set(self, pid, value):
        """em_setparam"""
        self._exists()
        self._check(c.em_setparam(self.handle, pid, int(value)), f"parameter {pid}")

    def get(self, pid):
        """em_getparam (-1 from a node that exists is a value)"""
        self._exists()
        return c.em_getparam(self.handle, pid)

    def setf(self, pid, value):
        self._exists()
        self._check(c.em_setparamf(self.handle, pid, float(value)), f"float parameter {pid}")

    def getf(self, pid):
        self._exists()
        return c.em_getparamf(self.handle, pid)

    def setv(self, pid, xyz):
        self._exists()
        self._check(c.em_setparamv(self.handle, pid, (ctypes.c_float * 3)(*xyz)), f"vector parameter {pid}")

    def getv(self, pid):
        self._exists()
        v = (ctypes.c_float * 3)()
        self._check(c.em_getparamv(self.handle, pid, v), f"vector parameter {pid}")
        return tuple(v)

    def fade(self, volume, ms, then=EM_FADEKEEP):
        """Glides the node's volume to volume (0..65536) over ms milliseconds of output, then
        keeps playing (EM_FADEKEEP), pauses (EM_FADEPAUSE) or frees the node (EM_FADEFREE)."""
        self._exists()
        if c.em_fade(self.handle, int(volume), int(ms), int(then)) != 0:
            raise EngineError(f"node {self.handle} cannot fade to {volume} over {ms} ms then {then} (volume 0..65536, "
                              "ms 0..3600000, then EM_FADE*, never freeing the root or a sequencer channel)")

    @property
    def paused(self):
        """True while the node and its subtree neither mix nor advance; setting it pauses or resumes."""
        self._exists()
        return c.em_getparam(self.handle, EMP_PAUSED) == 1

    @paused.setter
    def paused(self, value):
        self._exists()
        self._check(c.em_pause(self.handle, 1 if value else 0), "a pause")

    volume = _param(EMP_VOLUME, "gain, 256 = unity")
    pan = _param(EMP_PAN, "-128 left .. +128 right")
    pitch = _param(EMP_PITCH, "16.16 step or factor, 0x10000 = 1.0")
    flags = _param(EMP_FLAGS, "flag word (EMF_*)")
    state = _param(EMP_STATE, "0 idle, 1 set, 3 playing, 4 playing and looping")

    @property
    def parent(self):
        self._exists()
        handle = c.em_getparent(self.handle)
        return Node(handle) if handle else None

    @property
    def children(self):
        """The child nodes, first to last."""
        self._exists()
        found, handle = [], c.em_getchild(self.handle)
        while handle:
            found.append(Node(handle))
            handle = c.em_getnext(handle)
        return found

    def free(self):
        """Destroys the node and its subtree."""
        self._exists()
        self._check(c.em_freenode(self.handle), "em_freenode (the root stays)")

    def __eq__(self, other):
        return isinstance(other, Node) and other.handle == self.handle

    def __hash__(self):
        return self.handle

    def __repr__(self):
        return f"<quorrel.{type(self).__name__} {self.handle}>"


def _made(kind, handle, what):
    if not handle:
        raise EngineError(f"the engine could not make {what} (bad parent or no memory)")
    return kind(handle)


class Voice(Node):
    """A sound playing on a sampler; it frees itself when the sound ends."""

    sample = _param(EMP_SAMPLE, "sample-bank number played")
    position = _param(EMP_POSITION, "play position, frames")


class Voice3D(Voice):
    """A positioned voice of a 3-D sampler."""

    position3d = _vector(EMP_POSITION3DB, "position")
    velocity3d = _vector(EMP_VELOCITY3DB, "velocity")


class _Starter(Node):
    """A node that starts voices: a sampler or a 3-D sampler."""

    _calls = _voice = None  # (start now, start at a clock) and the class of the voices

    def _start(self, call, sample, *clock):
        self._exists()
        number = sample.handle if isinstance(sample, Sample) else int(sample)
        if not c.em_validsample(number):
            raise HandleError(f"sample {number} does not exist")
        handle = call(self.handle, number, *(int(t) & 0xFFFFFFFF for t in clock))
        return _made(self._voice, handle, f"a voice on node {self.handle}")

    def trigger(self, sample):
        """A voice of sample (a Sample or its handle), starting with the next buffer."""
        return self._start(self._calls[0], sample)

    def trigger_at(self, sample, sampleclock):
        """A voice whose first frame sounds at that sample clock (a clock past starts at the next buffer)."""
        return self._start(self._calls[1], sample, sampleclock)


class Sampler(_Starter):
    """Starts a voice node per trigger."""

    _calls, _voice = (c.em_triggersample, c.em_triggersampleat), Voice


class Sampler3D(_Starter):
    """Positioned voices around one listener."""

    _calls, _voice = (c.em_triggersample3d, c.em_triggersample3dclock), Voice3D
    position = _vector(EMP_POSITION3D, "listener position")
    velocity = _vector(EMP_VELOCITY3D, "listener velocity")
    forward = _vector(EMP_FORWARD3D, "listener forward axis")
    right = _vector(EMP_RIGHT3D, "listener right axis")
    up = _vector(EMP_UP3D, "listener up axis")

    def trigger_placed(self, sample, position, velocity=None):
        """A voice whose first buffer is heard at position (x, y, z), moving at velocity (at rest when None)."""
        where = (ctypes.c_float * 3)(*position)
        speed = (ctypes.c_float * 3)(*velocity) if velocity is not None else None
        return self._start(lambda handle, number: c.em_triggersample3dat(handle, number, where, speed), sample)


class Sequencer(Node):
    """A step sequencer: channels of patterns, one signed byte per step."""

    running = _param(EMP_RUN, "non-zero: notes start")
    length = _param(EMP_LENGTH, "one pass, output frames")
    steps = _param(EMP_STEPS, "steps in one pass")

    def channel(self, index):
        """The node of channel index (a Node: volume, pan, flags, sample...)."""
        self.set(EMP_CHANNEL, index)
        handle = self.get(EMP_CHANNELNODE)
        if handle <= 0:
            raise HandleError(f"sequencer {self.handle} has no channel {index}")
        return Node(handle)

    def pattern(self, index, notes, sample=None):
        """Sets channel index's pattern (EMP_STEPS notes; 12..127 notes, the rest
        rests) and, when given, the sample it plays."""
        channel = self.channel(index)
        steps = self.steps
        if len(notes) != steps:
            raise ValueError(f"the pattern has {len(notes)} steps, the sequencer {steps}")
        if sample is not None:
            channel.set(EMP_SAMPLE, sample.handle if isinstance(sample, Sample) else sample)
        self._check(c.em_setparamp(channel.handle, EMP_PATTERN, bytes(n & 0xFF for n in notes)), "a pattern")
        return channel


class Music(Node):
    """An Ogg Vorbis stream."""

    position_ms = _param(EMP_POSITIONMS, "play position, ms; setting it seeks")
    loop_count = _param(EMP_LOOPCOUNT, "passes still to play after this one, -1 forever")

    rate = _param(EMP_RATE, "stream rate, Hz")
    length = _param(EMP_LENGTH, "stream length, stream frames")
    length_ms = _param(EMP_LENGTHMS, "stream length, ms")

    def play(self, path):
        self._exists()
        if c.em_playoggmusic(self.handle, _path(path)) != 0:
            raise EngineError(f"{path}: the music node cannot open it (missing, not Ogg Vorbis, or a name "
                              "longer than the system takes)")

    def stop(self):
        self._exists()
        c.em_stopoggmusic(self.handle)


class Effect(Node):
    """An effect node (EMX_FILTER, EMX_ECHO, EMX_REVERB): its children and the
    nodes that send to it pass through the effect."""


# What ended, looped or switched in the mixer (em_pollevent): type (EME_*),
# handle, sample (for EME_VOICEEND) and the sample clock of the frame.
Event = collections.namedtuple("Event", "type handle sample sampleclock")


def _send(node, effect, level=256):
    """Mixes what node gives its parent also into effect, at level (256 = unity, 0 removes it)."""
    node._exists()
    effect._exists()
    if c.em_setsend(node.handle, effect.handle, int(level)) != 0:
        raise EngineError(f"node {node.handle} cannot send to {effect.handle} at level {level} (not an effect, "
                          "a loop, the root, a level outside 0..1024, or too many sends)")


Node.send = _send


class Engine:
    """The engine started offline: nothing plays, render() mixes on demand.
    A context manager: `with quorrel.Engine() as engine:` starts and stops it."""

    def start(self):
        result = c.em_initoffline()
        if result != 0:
            raise EngineError(_STARTFAILURES.get(result, f"em_initoffline gave {result}"))
        return self

    def stop(self):
        c.em_deinit()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    @property
    def root(self):
        _running()
        return Node(c.em_getroot())

    @property
    def sample_clock(self):
        _running()
        return c.em_getsampleclock()

    def _parent(self, parent):
        if parent is None:
            return self.root.handle
        node = parent if isinstance(parent, Node) else Node(int(parent))
        node._exists()
        return node.handle

    def load(self, path):
        """A WAV file into the sample bank."""
        return self._load(c.em_loadsample, path)

    def load_ogg(self, path):
        """A whole Ogg Vorbis file into the sample bank."""
        return self._load(c.em_loadoggsample, path)

    def load_sound(self, path):
        """A sound file of any format the engine reads (told by its content) into the sample bank."""
        return self._load(c.em_loadsound, path)

    def load_memory(self, data):
        """A sound file's bytes (WAV, FLAC, Ogg Vorbis, ...) into the sample bank."""
        data = bytes(data)
        return self._loaded(c.em_loadsamplemem(data, len(data)), "the bytes")

    def load_raw(self, values, rate):
        """16-bit frames into the sample bank: an int16 array of shape (n,) mono or (n, channels) of 1 or 2."""
        _running()
        values = np.ascontiguousarray(values, dtype=np.int16)
        channels = 1 if values.ndim == 1 else values.shape[1]
        frames = values.shape[0]
        pointer = values.ctypes.data_as(ctypes.POINTER(ctypes.c_int16))
        return self._loaded(c.em_loadsampleraw(pointer, frames, channels, int(rate)), "the frames")

    def _load(self, call, path):
        _running()
        return self._loaded(call(_path(path)), path)

    @staticmethod
    def _loaded(handle, what):
        if not handle:
            raise SampleError(f"{what}: {c.em_sampleerror().decode()}")
        return Sample(handle)

    def effect(self, kind, parent=None):
        """An effect node of kind EMX_FILTER, EMX_ECHO or EMX_REVERB."""
        return _made(Effect, c.em_createeffect(self._parent(parent), kind), f"an effect of kind {kind}")

    def events(self):
        """The events the mixer posted since the last call, oldest first."""
        _running()
        found, event = [], _lib.em_event()
        while c.em_pollevent(ctypes.byref(event)) == 1:
            found.append(Event(event.type, event.handle, event.sample, event.sampleclock))
        return found

    @property
    def lost_events(self):
        """Events dropped because the ring was full."""
        _running()
        return c.em_lostevents()

    def sampler(self, parent=None, mode=-1):
        return _made(Sampler, c.em_createsampler(self._parent(parent), mode), "a sampler")

    def sampler3d(self, parent=None, mode=-1):
        return _made(Sampler3D, c.em_createsampler3d(self._parent(parent), mode), "a 3-D sampler")

    def sequencer(self, channels, steps, parent=None):
        handle = c.em_createsequencer(self._parent(parent), channels, steps)
        if not handle:
            raise EngineError(f"the engine could not make a sequencer of {channels} channels and {steps} steps "
                              f"(0..{EM_SEQCHANNELS} channels, 1 or more steps)")
        return Sequencer(handle)

    def music(self, parent=None):
        return _made(Music, c.em_createoggmusic(self._parent(parent)), "a music node")

    def render(self, frames):
        """The next frames frames: an int16 array of shape (frames, 2), left and right."""
        _running()
        if frames < 0:
            raise ValueError(f"frames must be 0 or more, not {frames}")
        out = np.zeros((frames, 2), dtype=np.int16)
        done = c.em_render(out.ctypes.data_as(ctypes.POINTER(ctypes.c_int16)), frames)
        if done != frames:
            raise EngineError(f"em_render gave {done}")
        return out

    @staticmethod
    def write_wav(path, frames):
        """Writes rendered frames (an (n, 2) int16 array) as a 16-bit stereo WAV file
        through the engine's writer; OSError with the system's reason when it cannot."""
        frames = np.ascontiguousarray(frames, dtype=np.int16)
        if frames.ndim != 2 or frames.shape[1] != 2:
            raise ValueError(f"frames must have the shape (n, 2), not {frames.shape}")
        pointer = frames.ctypes.data_as(ctypes.POINTER(ctypes.c_int16))
        if c.em_writewav(_path(path), pointer, frames.shape[0], 2, RATE) != 0:
            error = ctypes.get_errno()
            raise OSError(error, os.strerror(error) if error else "the WAV format holds at most 4 GiB", str(path))
