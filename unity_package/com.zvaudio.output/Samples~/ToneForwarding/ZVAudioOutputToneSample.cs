using UnityEngine;
using ZVAudio.Output;

namespace ZVAudio.Output.Samples
{
    // Sets up everything the forwarder needs on this GameObject: an
    // AudioListener, a quiet looping test tone, and the forwarder added last so
    // that it comes after every other audio filter. Put it on an empty
    // GameObject in a scene without another AudioListener and press Play.
    public sealed class ZVAudioOutputToneSample : MonoBehaviour
    {
        [Tooltip("Frequency of the test tone in Hz.")]
        [SerializeField]
        private float frequency = 440.0f;

        [Tooltip("Level of the test tone, 0 to 1.")]
        [Range(0.0f, 1.0f)]
        [SerializeField]
        private float level = 0.2f;

        [Tooltip("Queue depth the plug-in steers towards, in milliseconds; 0 = off.")]
        [SerializeField]
        private int latencyTargetMilliseconds = ZVAudioOutputForwarder.DefaultLatencyTargetMilliseconds;

        private AudioSource source;

        private void Awake()
        {
            if (GetComponent<AudioListener>() == null)
                gameObject.AddComponent<AudioListener>();

            var tone = new GameObject("ZV test tone");
            tone.transform.SetParent(transform, false);
            source = tone.AddComponent<AudioSource>();
            source.loop = true;
            PlayTone();

            var forwarder = GetComponent<ZVAudioOutputForwarder>();
            if (forwarder == null)
                forwarder = gameObject.AddComponent<ZVAudioOutputForwarder>();
            forwarder.LatencyTargetMilliseconds = latencyTargetMilliseconds;
        }

        private void OnEnable()
        {
            AudioSettings.OnAudioConfigurationChanged += OnAudioConfigurationChanged;
        }

        private void OnDisable()
        {
            AudioSettings.OnAudioConfigurationChanged -= OnAudioConfigurationChanged;
        }

        // A clip made by a script is an asset of its own that lives until destroyed.
        private void OnDestroy()
        {
            if (source != null && source.clip != null)
                Destroy(source.clip);
        }

        // The engine raises this after AudioSettings.Reset or a change of output
        // device or rate (scripting reference, AudioConfigurationChangeHandler),
        // and the clips a script made before are not kept through that reset:
        // the tone is made again at the new rate.
        private void OnAudioConfigurationChanged(bool deviceWasChanged)
        {
            if (source != null)
                PlayTone();
        }

        // The clip it replaces is destroyed: each configuration change would
        // otherwise leave one more second of samples behind.
        private void PlayTone()
        {
            AudioClip previous = source.clip;
            source.clip = MakeTone(AudioSettings.outputSampleRate, frequency, level);
            source.Play();
            if (previous != null)
                Destroy(previous);
        }

        // One second of a sine at a whole number of cycles, so the loop is seamless.
        private static AudioClip MakeTone(int sampleRate, float frequency, float level)
        {
            int rate = sampleRate > 0 ? sampleRate : 48000;
            float cycles = Mathf.Max(1.0f, Mathf.Round(frequency));
            var samples = new float[rate];
            for (int i = 0; i < samples.Length; ++i)
                samples[i] = level * Mathf.Sin(2.0f * Mathf.PI * cycles * i / rate);
            AudioClip clip = AudioClip.Create("ZV test tone", rate, 1, rate, false);
            clip.SetData(samples, 0);
            return clip;
        }
    }
}
