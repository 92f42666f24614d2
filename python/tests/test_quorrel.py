# test_quorrel.py -- the Python module against the engine: a scene rendered through
# it equals, value for value, the same scene rendered by the C++ interface
# (pyscene); every call of em/em.h is declared in quorrel.c and every constant
# carried; bad input raises the documented exceptions.
#   QUORREL_PYSCENE names the pyscene program, QUORREL_HEADER em/em.h and
#   QUORREL_CHEADER the folder of cheader.py (the header reader of the C tests).
import ctypes
import os
import subprocess
import sys
import wave

import numpy as np
import pytest

import quorrel

sys.path.insert(0, os.environ["QUORREL_CHEADER"])
import cheader  # noqa: E402

FRAMES = 30000


def write_wav(path, channels, rate, values):
    with wave.open(str(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(np.asarray(values, dtype="<i2").tobytes())


@pytest.fixture
def files(tmp_path, monkeypatch):
    """A mono saw at 44100 Hz and a stereo pair of lines at 22050 Hz, no value zero,
    in the working folder (the music node takes names of up to 63 characters)."""
    monkeypatch.chdir(tmp_path)
    i = np.arange(6000)
    write_wav(tmp_path / "mono.wav", 1, 44100, (i * 997) % 60000 - 30000 + (i % 2))
    write_wav(tmp_path / "stereo.wav", 2, 22050, np.where(i % 2, 9000 - i // 2 * 3, i // 2 * 2 - 5000) | 1)
    return tmp_path


@pytest.fixture
def engine():
    with quorrel.Engine() as started:
        yield started


def header():
    with open(os.environ["QUORREL_HEADER"]) as f:
        return f.read()


def test_every_call_of_the_header_is_declared():
    calls, declared = cheader.declared(header())[0], set(quorrel._lib.SIGNATURES)
    assert not calls - declared, f"calls of em/em.h missing from python/quorrel/_lib.py: {sorted(calls - declared)}"
    assert not declared - calls, f"calls of python/quorrel/_lib.py that em/em.h lacks: {sorted(declared - calls)}"
    for name in calls:
        assert getattr(quorrel.c, name).argtypes is not None, name


def test_every_constant_of_the_header_is_carried():
    for name, value in cheader.constants(header()).items():
        assert getattr(quorrel, name, None) == value, f"{name} = {value} of em/em.h is not in python/quorrel/_constants.py"


def test_the_scene_renders_as_the_engine_renders_it_from_cxx(files, engine):
    subprocess.run([os.environ["QUORREL_PYSCENE"], "mono.wav", "stereo.wav", "music.ogg", str(FRAMES), "cxx.raw"],
                   check=True)
    want = np.fromfile(files / "cxx.raw", dtype="<i2").reshape(FRAMES, 2)

    mono, stereo = engine.load(files / "mono.wav"), engine.load(str(files / "stereo.wav"))
    assert (mono.length, mono.channels, mono.rate, stereo.channels, stereo.rate) == (6000, 1, 44100, 2, 22050)
    sampler = engine.sampler()
    first, second = sampler.trigger(mono), sampler.trigger(stereo)
    first.volume, first.pan, second.pitch = 200, -40, 0x18000
    assert set(sampler.children) == {first, second} and first.parent == sampler and first.pan == -40

    space = engine.sampler3d()
    moving = space.trigger(mono)
    moving.position3d, moving.velocity3d = (3, 0, 4), (-30, 0, 0)
    moving.flags |= quorrel.EMF_MOVING | quorrel.EMF_LOOP
    assert moving.position3d == (3.0, 0.0, 4.0)

    seq = engine.sequencer(1, 4)
    seq.pattern(0, [69, 0, 81, 0], stereo)
    seq.length, seq.running = 22050, 1

    music = engine.music()
    music.volume = 100
    music.play("music.ogg")
    assert music.rate == 22050

    got = np.concatenate([engine.render(1000), engine.render(FRAMES - 1000)])
    assert got.dtype == np.int16 and got.shape == (FRAMES, 2)
    assert np.count_nonzero(want) > FRAMES, "the scene is heard"
    mismatch = np.argwhere(got != want)
    assert mismatch.size == 0, f"first difference at frame, side {mismatch[0]}"
    assert engine.sample_clock == FRAMES

    engine.write_wav(files / "out.wav", got)
    with wave.open(str(files / "out.wav")) as back:
        assert (back.getnchannels(), back.getframerate(), back.getnframes()) == (2, 44100, FRAMES)
        assert back.readframes(FRAMES) == got.astype("<i2").tobytes()


def test_a_placed_voice_starts_where_it_is_put(files, engine):
    voice = engine.sampler3d().trigger_placed(engine.load(files / "mono.wav"), (0, 0, -1000), (2, 0, 0))
    assert voice.position3d == (0.0, 0.0, -1000.0) and voice.velocity3d == (2.0, 0.0, 0.0)
    assert not engine.render(1024).any(), "out of range from its first frame on"


def test_the_c_calls_are_reachable_as_they_are(files):
    assert quorrel.c.em_initoffline() == 0
    try:
        sample = quorrel.c.em_loadsample(str(files / "mono.wav").encode())
        assert quorrel.c.em_getsample(sample).contents.length == 6000
        out = (ctypes.c_int16 * 8)()
        assert quorrel.c.em_render(out, 4) == 4
        space = quorrel.c.em_createsampler3d(quorrel.c.em_getroot(), -1)
        assert quorrel.c.em_setparam3f(space, quorrel.EMP_POSITION3D, 1.5, -2, 3) == 0
        x, y, z = ctypes.c_float(), ctypes.c_float(), ctypes.c_float()
        assert quorrel.c.em_getparam3f(space, quorrel.EMP_POSITION3D, x, y, z) == 0
        assert (x.value, y.value, z.value) == (1.5, -2.0, 3.0)
        assert quorrel.c.em_sampleerror() == b""
    finally:
        quorrel.c.em_deinit()


def test_calls_before_start_and_after_stop_raise_not_started():
    engine = quorrel.Engine()
    for call in (lambda: engine.render(10), lambda: engine.load("x.wav"), engine.sampler,
                 lambda: quorrel.Node(1).volume, lambda: quorrel.Sample(1).length):
        with pytest.raises(quorrel.NotStartedError):
            call()
    with engine:
        node = engine.sampler()
    with pytest.raises(quorrel.NotStartedError, match="not running"):
        node.volume = 3


def test_bad_handles_and_parameters_raise_handle_errors(files, engine):
    sampler = engine.sampler()
    sample = engine.load(files / "mono.wav")
    sample.free()
    with pytest.raises(quorrel.HandleError, match=f"sample {sample.handle} does not exist"):
        sampler.trigger(sample)
    with pytest.raises(quorrel.HandleError):
        sample.length
    sampler.free()
    for call in (lambda: sampler.volume, lambda: setattr(sampler, "pan", 3), sampler.free, lambda: engine.sampler(sampler),
                 lambda: quorrel.Node(4000).volume):
        with pytest.raises(quorrel.HandleError, match="does not exist"):
            call()
    with pytest.raises(quorrel.HandleError, match="does not take parameter 34"):
        engine.sampler().set(quorrel.EMP_PATTERN, 1)
    with pytest.raises(quorrel.HandleError, match="root stays"):
        engine.root.free()
    with pytest.raises(quorrel.HandleError, match="no channel 2"):
        engine.sequencer(2, 4).channel(2)


def test_failures_carry_the_engines_reasons(files, engine):
    with pytest.raises(quorrel.SampleError, match="nothere.wav: No such file or directory") as caught:
        engine.load(files / "nothere.wav")
    assert caught.value.reason.endswith("No such file or directory")
    (files / "text.wav").write_text("not a sound\n")
    with pytest.raises(quorrel.SampleError, match="not a WAV file the engine reads"):
        engine.load(files / "text.wav")
    with pytest.raises(quorrel.SampleError):
        engine.load_ogg(files / "text.wav")
    with pytest.raises(quorrel.EngineError, match="cannot open"):
        engine.music().play(files / "nothere.ogg")
    with pytest.raises(quorrel.EngineError, match="already running"):
        quorrel.Engine().start()
    with pytest.raises(quorrel.EngineError, match="sequencer of 9 channels"):
        engine.sequencer(9, 4)
    with pytest.raises(ValueError):
        engine.render(-1)
    with pytest.raises(ValueError):
        engine.sequencer(1, 4).pattern(0, [69])
    with pytest.raises(ValueError):
        engine.write_wav(files / "x.wav", np.zeros(8, dtype=np.int16))


def test_sounds_from_memory_and_frames_render_as_the_file_does(files):
    renders = []
    for load in (lambda e: e.load(files / "mono.wav"), lambda e: e.load_sound(files / "mono.wav"),
                 lambda e: e.load_memory((files / "mono.wav").read_bytes()),
                 lambda e: e.load_raw(np.frombuffer(wave.open(str(files / "mono.wav")).readframes(6000), "<i2"), 44100)):
        with quorrel.Engine() as engine:
            engine.sampler().trigger(load(engine))
            renders.append(engine.render(7000))
    for other in renders[1:]:
        assert np.array_equal(other, renders[0])
    assert renders[0][:6000].any() and not renders[0][6000:].any()


def test_a_voice_end_comes_back_as_an_event_with_its_last_frame(files, engine):
    sample = engine.load(files / "mono.wav")
    voice = engine.sampler().trigger(sample)
    assert engine.events() == []
    engine.render(8192)
    assert engine.events() == [quorrel.Event(quorrel.EME_VOICEEND, voice.handle, sample.handle, 5999)]
    assert engine.lost_events == 0


def test_an_effect_with_its_input_alone_passes_it_through_and_sends_reach_it(files):
    renders = []
    for through in (False, True):
        with quorrel.Engine() as engine:
            sample = engine.load(files / "mono.wav")
            parent = engine.root
            if through:
                parent = engine.effect(quorrel.EMX_ECHO)
                parent.setf(quorrel.EMP_WET, 0)
                parent.setf(quorrel.EMP_DRY, 1)
            engine.sampler(parent).trigger(sample)
            renders.append(engine.render(4096))
    assert np.array_equal(renders[0], renders[1])
    with quorrel.Engine() as engine:
        reverb, sampler = engine.effect(quorrel.EMX_REVERB), engine.sampler()
        sampler.send(reverb, 256)
        with pytest.raises(quorrel.EngineError, match="cannot send"):
            reverb.send(reverb)


def test_writing_a_wav_file_that_cannot_be_written_raises_the_systems_reason(files):
    with pytest.raises(OSError, match="Is a directory"):
        quorrel.Engine.write_wav(files, np.zeros((4, 2), dtype=np.int16))


def test_a_clocked_start_a_fade_and_a_pause_act_on_their_frames(files, engine):
    sampler = engine.sampler()
    sample = engine.load(files / "mono.wav")
    sampler.trigger_at(sample, 1500)
    out = engine.render(2048)
    assert not out[:1500].any() and out[1500].any()
    engine.root.paused = True
    assert engine.root.paused and not engine.render(1024).any()
    engine.root.paused = False
    sampler.fade(0, 0, quorrel.EM_FADEFREE)
    engine.render(2048)
    assert sampler.handle not in [node.handle for node in engine.root.children]
    with pytest.raises(quorrel.EngineError, match="cannot fade"):
        engine.root.fade(0, 10, quorrel.EM_FADEFREE)
