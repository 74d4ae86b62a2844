using System;
using UnityEngine;
#if UNITY_EDITOR
using UnityEditor;
#endif

namespace ZVAudio.Output
{
    // Sends everything the engine plays through this GameObject's audio filter
    // chain to the platform output. Put it on the AudioListener's GameObject to
    // forward the whole mix, or on an AudioSource's to forward that source.
    //
    // Engine glue only: the decisions live in AudioForwarder and OutputFormat.
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

        private readonly AudioForwarder forwarder = new AudioForwarder();
        private OutputReport report;
        private bool hasReport;

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

        public bool IsOpen
        {
            get { return forwarder.IsOpen; }
        }

        public OutputFormat Format
        {
            get { return forwarder.Format; }
        }

        // Refreshed once a frame while the output is open.
        public bool TryGetReport(out OutputReport current)
        {
            current = report;
            return hasReport;
        }

        private void OnEnable()
        {
            AudioSettings.OnAudioConfigurationChanged += OnAudioConfigurationChanged;
            Application.quitting += Shutdown;
#if UNITY_EDITOR
            AssemblyReloadEvents.beforeAssemblyReload += Shutdown;
#endif
            OpenOutput(EngineChannels());
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

        private void Update()
        {
            if (forwarder.ChannelsDiffer)
                OpenOutput(forwarder.LastBlockChannels);
            ZVAudioOutputStats stats;
            hasReport = forwarder.TryGetStatistics(out stats);
            if (hasReport)
                report = OutputReport.From(stats, forwarder.Format);
        }

        // Audio thread.
        private void OnAudioFilterRead(float[] data, int channels)
        {
            forwarder.Forward(data, channels, loopback);
        }

        private void OnAudioConfigurationChanged(bool deviceWasChanged)
        {
            if (isActiveAndEnabled)
                OpenOutput(EngineChannels());
        }

        private void Shutdown()
        {
            forwarder.Close();
            hasReport = false;
        }

        private void OpenOutput(int channels)
        {
            int blockFrames;
            int blockCount;
            AudioSettings.GetDSPBufferSize(out blockFrames, out blockCount);
            AudioForwarder.OpenResult result;
            try
            {
                result = forwarder.Open(new OutputFormat(AudioSettings.outputSampleRate, channels,
                                                         blockFrames, bufferSeconds));
            }
            catch (DllNotFoundException e)
            {
                Debug.LogError("ZVAudioOutput plug-in not found for this platform: " + e.Message, this);
                enabled = false;
                return;
            }
            catch (EntryPointNotFoundException e)
            {
                Debug.LogError("ZVAudioOutput plug-in is out of date: " + e.Message, this);
                enabled = false;
                return;
            }
            if (result == AudioForwarder.OpenResult.InstanceInUse)
            {
                Debug.LogWarning("Another ZVAudioOutputForwarder already drives the output; " +
                                 "this one stays idle.", this);
                enabled = false;
            }
            else if (result == AudioForwarder.OpenResult.NoInstance)
            {
                Debug.LogError("ZVAudioOutput could not create its output instance.", this);
                enabled = false;
            }
        }

        private static int EngineChannels()
        {
            return OutputFormat.ChannelsOf(ToLayout(AudioSettings.speakerMode));
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
    }
}
