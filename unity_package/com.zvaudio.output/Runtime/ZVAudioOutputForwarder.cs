using UnityEngine;
#if UNITY_EDITOR
using UnityEditor;
#endif

namespace ZVAudio.Output
{
    // Sends everything the engine plays through this GameObject's audio filter
    // chain to the platform output. Put it on the AudioListener's GameObject to
    // forward the whole mix, or on an AudioSource's to forward that source, and
    // keep it last among the audio filters.
    //
    // Engine glue only: the decisions live in ForwarderController, AudioForwarder
    // and OutputFormat.
    [DisallowMultipleComponent]
    [AddComponentMenu("Audio/ZV Audio Output Forwarder")]
    public sealed class ZVAudioOutputForwarder : MonoBehaviour
    {
        [Tooltip("Seconds of audio the native ring holds before the oldest samples are overwritten.")]
        [Range(1, 10)]
        [SerializeField]
        private int bufferSeconds = 1;

        [Tooltip("Also let the engine play the audio through its own output.")]
        [SerializeField]
        private bool loopback = false;

        [Tooltip("Queue depth the plug-in steers towards with a small rate correction, in " +
                 "milliseconds; 0 = off (the queue follows the two clocks' drift).")]
        [Min(0)]
        [SerializeField]
        private int latencyTargetMilliseconds = 0;

        // Created with the component, so the audio thread never sees it change.
        private readonly AudioForwarder forwarder = new AudioForwarder();
        private ForwarderController controller;

        public int BufferSeconds
        {
            get { return bufferSeconds; }
            set { bufferSeconds = Mathf.Clamp(value, 1, 10); }
        }

        // Read by the audio thread; a plain bool field write is atomic.
        public bool Loopback
        {
            get { return loopback; }
            set { loopback = value; }
        }

        // Applied at once while the output is open, and whenever it opens.
        public int LatencyTargetMilliseconds
        {
            get { return latencyTargetMilliseconds; }
            set
            {
                latencyTargetMilliseconds = Mathf.Max(0, value);
                forwarder.LatencyTargetMilliseconds = (uint)latencyTargetMilliseconds;
            }
        }

        public bool IsOpen
        {
            get { return forwarder.IsOpen; }
        }

        // False when the platform refused the stream: the engine's audio is then
        // left as it is, and the output is tried again on the next audio
        // configuration change or when the component is enabled again.
        public bool HasStream
        {
            get { return forwarder.HasStream; }
        }

        public AudioForwarder.OpenResult Status
        {
            get { return forwarder.Status; }
        }

        // The runtime's words when the plug-in is missing or out of date, else null.
        public string Problem
        {
            get { return forwarder.Problem; }
        }

        public OutputFormat Format
        {
            get { return forwarder.Format; }
        }

        // Refreshed once a frame while this forwarder owns the output.
        public bool TryGetReport(out OutputReport current)
        {
            if (controller == null)
            {
                current = new OutputReport();
                return false;
            }
            return controller.TryGetReport(out current);
        }

        private void OnEnable()
        {
            if (controller == null)
                controller = new ForwarderController(new ConsoleLog(this), forwarder);
            AudioSettings.OnAudioConfigurationChanged += OnAudioConfigurationChanged;
            Application.quitting += Shutdown;
#if UNITY_EDITOR
            AssemblyReloadEvents.beforeAssemblyReload += Shutdown;
#endif
            Open();
        }

        private void OnDisable()
        {
            AudioSettings.OnAudioConfigurationChanged -= OnAudioConfigurationChanged;
            Application.quitting -= Shutdown;
#if UNITY_EDITOR
            AssemblyReloadEvents.beforeAssemblyReload -= Shutdown;
#endif
            Shutdown();
        }

        // Also before a script reload in the Editor and when the application quits.
        private void Shutdown()
        {
            if (controller != null)
                controller.Close();
        }

        private void OnValidate()
        {
            latencyTargetMilliseconds = Mathf.Max(0, latencyTargetMilliseconds);
            if (Application.isPlaying && isActiveAndEnabled)
                forwarder.LatencyTargetMilliseconds = (uint)latencyTargetMilliseconds;
        }

        private void Update()
        {
            controller.Update();
            if (controller.GaveUp)
                enabled = false;
        }

        // Audio thread.
        private void OnAudioFilterRead(float[] data, int channels)
        {
            forwarder.Forward(data, channels, loopback);
        }

        private void OnAudioConfigurationChanged(bool deviceWasChanged)
        {
            if (isActiveAndEnabled)
                Open();
        }

        private void Open()
        {
            controller.BufferSeconds = bufferSeconds;
            forwarder.LatencyTargetMilliseconds = (uint)Mathf.Max(0, latencyTargetMilliseconds);
            int blockFrames;
            int blockCount;
            AudioSettings.GetDSPBufferSize(out blockFrames, out blockCount);
            controller.Open(new EngineAudio(AudioSettings.outputSampleRate,
                                            ToLayout(AudioSettings.speakerMode), blockFrames));
            if (controller.GaveUp)
                enabled = false;
        }

        private static SpeakerLayout ToLayout(AudioSpeakerMode mode)
        {
            switch (mode)
            {
            case AudioSpeakerMode.Mono: return SpeakerLayout.Mono;
            case AudioSpeakerMode.Stereo: return SpeakerLayout.Stereo;
            case AudioSpeakerMode.Quad: return SpeakerLayout.Quad;
            case AudioSpeakerMode.Surround: return SpeakerLayout.Surround;
            case AudioSpeakerMode.Mode5point1: return SpeakerLayout.Mode5point1;
            case AudioSpeakerMode.Mode7point1: return SpeakerLayout.Mode7point1;
            case AudioSpeakerMode.Prologic: return SpeakerLayout.Prologic;
            default: return SpeakerLayout.Unknown;
            }
        }

        // The Console, with the component as the context a click selects.
        private sealed class ConsoleLog : IForwarderLog
        {
            private readonly Object context;

            public ConsoleLog(Object context)
            {
                this.context = context;
            }

            public void Info(string message)
            {
                Debug.Log(message, context);
            }

            public void Warning(string message)
            {
                Debug.LogWarning(message, context);
            }

            public void Error(string message)
            {
                Debug.LogError(message, context);
            }
        }
    }
}
