# _constants.py -- the constants of em/em.h under their own names and values

EMP_RATE = 1  # int: stream sample rate, Hz
EMP_LENGTH = 2  # int: stream length in stream frames / sequence pass length
EMP_LENGTHMS = 3  # int: stream length in milliseconds
EMP_OUTLENGTH = 4  # int: stream length in output frames
EMP_VOLUME = 5  # int: gain, 256 = unity
EMP_PITCH = 6  # int: playback step, 16.16, 0x10000 = 1.0
EMP_PAN = 7  # int: -128 left .. +128 right
EMP_FLAGS = 8  # int: voice flag word (EMF_*)
EMP_SAMPLE = 9  # int: sample-bank number played
EMP_POSITION = 10  # int: play position; setting it clears the fraction
EMP_STARTCLOCK = 11  # int: sample clock at the start of the current pass
EMP_STARTMS = 12  # int: millisecond clock at the start of the current pass
EMP_STATE = 13  # int: 0 idle, 1 set, 3 playing, 4 playing and looping
EMP_POSITION3D = 14  # vector: position
EMP_VELOCITY3D = 15  # vector: velocity
EMP_FORWARD3D = 16  # vector: listener forward axis
EMP_RIGHT3D = 17  # vector: listener right axis
EMP_UP3D = 18  # vector: listener up axis
EMP_DEFVOLUME = 19  # int: volume given to voices the node starts
EMP_DEFPITCH = 20  # int: pitch factor given to new voices, 0x10000 = 1.0
EMP_DEFPAN = 21  # int: pan given to new voices, clamped to -128..128
EMP_LOOP = 22  # int: 0 or 1, new voices loop
EMP_DEFFLAGS = 23  # int: the node's own flag word / flags of new 3-D voices
EMP_TARGETVOLUME = 24  # int: ramp target for the volume (sets EMF_RAMP)
EMP_TARGETPITCH = 25  # int: ramp target for the step (sets EMF_RAMP)
EMP_TARGETPAN = 26  # int: ramp target for the pan (sets EMF_RAMP)
EMP_POSITION3DB = 28  # vector: 3-D voice position / position for new voices
EMP_VELOCITY3DB = 29  # vector: 3-D voice velocity / velocity for new voices
EMP_3DSCALE = 30  # float: speed of sound in scene units per second
EMP_3DFACTOR = 31  # float: distance between the listener's ears
EMP_SWITCHMODE = 32  # int: above 0, a new start fades out and switches
EMP_RUN = 33  # int: non-zero, the sequencer triggers notes
EMP_PATTERN = 34  # block: a channel's step pattern, one signed byte per step
EMP_STEPS = 35  # int: steps in one pass
EMP_CHANNEL = 36  # int: selected channel index, -1 none
EMP_CHANNELNODE = 37  # int: handle of the selected channel's node, -1 none
EMP_INTERPOLATE = 38  # int: 0 reads the nearest frame, 1 interpolates linearly (EMF_INTERPOLATE)
EMP_POSITIONMS = 41  # int: music play position in milliseconds, 0..EMP_LENGTHMS
EMP_LOOPCOUNT = 42  # int: music passes still to play after this one, -1 forever
EMP_FILTERTYPE = 54  # int: filter shape, EMFT_*
EMP_FREQUENCY = 55  # float: filter corner or centre frequency, Hz
EMP_Q = 56  # float: filter quality
EMP_GAINDB = 57  # float: peaking and shelf gain, dB
EMP_DELAYMS = 58  # float: echo delay, ms
EMP_FEEDBACK = 59  # float: echo line feedback
EMP_WET = 60  # float: effect output gain, 1 = unity
EMP_DRY = 61  # float: input gain, 1 = unity
EMP_ROOMSIZE = 62  # float: reverb room size, 0..1
EMP_DAMPING = 63  # float: reverb high-frequency damping, 0..1
EMP_WIDTH = 64  # float: reverb stereo width, 0..1
EMX_FILTER = 1  # a biquad filter of EMP_FILTERTYPE
EMX_ECHO = 2  # a delay line with feedback
EMX_REVERB = 3  # parallel damped feedback combs into series all-passes
EMFT_LOWPASS = 0  # passes below the frequency
EMFT_HIGHPASS = 1  # passes above it
EMFT_BANDPASS = 2  # passes around it
EMFT_NOTCH = 3  # removes it
EMFT_PEAKING = 4  # boosts or cuts around it by the gain
EMFT_LOWSHELF = 5  # boosts or cuts below it by the gain
EMFT_HIGHSHELF = 6  # boosts or cuts above it by the gain
EMF_LOOP = 0x1  # at the end the read index wraps to the start
EMF_AUTOFREE = 0x2  # when the sound ends the voice destroys its own node
EMF_MOVING = 0x4  # a 3-D voice moves by its velocity
EMF_PLAYING = 0x1000  # the voice mixes; clear = silent
EMF_RAMP = 0x4000  # a ramp towards the targets is pending for the next buffer
EMF_INTERPOLATE = 0x8000  # reads between frames on a straight line instead of the nearest frame
EMS_ONDEMAND = 0x1  # play requests create voices
EMS_LOOP = 0x2  # voices the sampler starts loop
EMS_INTERPOLATE = 0x4  # voices the sampler starts interpolate
EM_MAXHANDLES = 512  # node handles are 1..511; 0 names no node
EM_MAXSENDS = 512  # sends in the engine, at most
EM_MAXNODESENDS = 8  # sends of one node, at most
EM_MAXSAMPLES = 512  # sample handles are 1..511; 0 names no sample
EM_SEQCHANNELS = 8  # channels of a sequencer, at most
EM_LOGERROR = 0  # a failure ("ERROR: ...")
EM_LOGWARNING = 1  # a refused request ("warning: ...")
EM_LOGINFO = 2  # the allocation report, the analysis findings, other notes
EME_VOICEEND = 1  # a sampler or 3-D sampler voice ended
EME_MUSICEND = 2  # a music node's stream ended
EME_MUSICLOOP = 3  # a music node's stream began another pass
EME_MUSICSWITCH = 4  # a music node switched to the next file
EME_SWITCHFAILED = 5  # a music node could not open the file it was to switch to
EME_FADEDONE = 6  # a fade reached its volume
EME_SEQWRAP = 7  # a running sequencer's pass began again
