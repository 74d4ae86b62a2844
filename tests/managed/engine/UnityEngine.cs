// A compile-time stand-in for the part of the engine's scripting API that the
// package uses, with the engine's names and signatures, so that CI compiles
// the component and the sample. Nothing here runs. Every public declaration
// is checked against reference_api.tsv, which says where the engine declares
// it; #if on the engine's version symbols keeps the versions apart.
using System;

#pragma warning disable 67 // events never raised

namespace UnityEngine
{
    public class Object
    {
        public static void Destroy(Object obj) { throw Component.Stub(); }
    }

    public interface ISerializationCallbackReceiver
    {
        void OnBeforeSerialize();
        void OnAfterDeserialize();
    }

    public class Component : Object
    {
        public GameObject gameObject { get { throw Stub(); } }
        public Transform transform { get { throw Stub(); } }
        public T GetComponent<T>() { throw Stub(); }
        public T[] GetComponents<T>() { throw Stub(); }

        internal static Exception Stub() { return new NotSupportedException("compile-time stand-in"); }
    }

    public class Behaviour : Component
    {
        public bool enabled { get; set; }
        public bool isActiveAndEnabled { get { throw Stub(); } }
    }

    public class MonoBehaviour : Behaviour
    {
    }

    public class ScriptableObject : Object
    {
    }

    public class Transform : Component
    {
        protected Transform() { }
        public void SetParent(Transform parent, bool worldPositionStays) { throw Stub(); }
    }

    public sealed class GameObject : Object
    {
        public GameObject(string name) { throw Component.Stub(); }
        public GameObject() { throw Component.Stub(); }
        public GameObject(string name, params Type[] components) { throw Component.Stub(); }
        public Transform transform { get { throw Component.Stub(); } }
        public T AddComponent<T>() where T : Component { throw Component.Stub(); }
    }

    public class AudioBehaviour : Behaviour
    {
    }

    public sealed class AudioListener : AudioBehaviour
    {
        public static bool pause { get { throw Component.Stub(); } set { throw Component.Stub(); } }
    }

    public sealed class AudioSource : AudioBehaviour
    {
        public AudioClip clip { get; set; }
        public bool loop { get; set; }
        public bool bypassListenerEffects { get; set; }
        public void Play() { throw Stub(); }
    }

#if UNITY_2023_2_OR_NEWER
    public sealed class AudioClip : Audio.AudioResource
#else
    public sealed class AudioClip : Object
#endif
    {
        private AudioClip() { }
        public static AudioClip Create(string name, int lengthSamples, int channels, int frequency, bool stream)
        {
            throw Component.Stub();
        }
        public bool SetData(float[] data, int offsetSamples) { throw Component.Stub(); }
#if UNITY_2023_2_OR_NEWER
        public bool SetData(ReadOnlySpan<float> data, int offsetSamples) { throw Component.Stub(); }
#endif
    }

    public enum AudioSpeakerMode
    {
        Mono = 1,
        Stereo = 2,
        Quad = 3,
        Surround = 4,
        Mode5point1 = 5,
        Mode7point1 = 6,
        Prologic = 7
    }

    public sealed class AudioSettings
    {
        public delegate void AudioConfigurationChangeHandler(bool deviceWasChanged);

        public static event AudioConfigurationChangeHandler OnAudioConfigurationChanged;
        public static int outputSampleRate { get { throw Component.Stub(); } set { throw Component.Stub(); } }
        public static AudioSpeakerMode speakerMode { get { throw Component.Stub(); } set { throw Component.Stub(); } }
        public static void GetDSPBufferSize(out int bufferLength, out int numBuffers) { throw Component.Stub(); }
    }

    public class Application
    {
        public static event Action quitting;
        public static bool isPlaying { get { throw Component.Stub(); } }
        public static string dataPath { get { throw Component.Stub(); } }
    }

    public class Debug
    {
        public static void Log(object message, Object context) { throw Component.Stub(); }
        public static void LogWarning(object message, Object context) { throw Component.Stub(); }
        public static void LogError(object message, Object context) { throw Component.Stub(); }
        public static void LogException(Exception exception, Object context) { throw Component.Stub(); }
        public static void Log(object message) { throw Component.Stub(); }
    }

    public enum RuntimeInitializeLoadType
    {
        AfterSceneLoad = 0,
        BeforeSceneLoad = 1,
        AfterAssembliesLoaded = 2,
        BeforeSplashScreen = 3,
        SubsystemRegistration = 4
    }

    [AttributeUsage(AttributeTargets.Method, AllowMultiple = false)]
    public class RuntimeInitializeOnLoadMethodAttribute : Scripting.PreserveAttribute
    {
        public RuntimeInitializeOnLoadMethodAttribute() { }
        public RuntimeInitializeOnLoadMethodAttribute(RuntimeInitializeLoadType loadType) { }
    }

    public class GUILayout
    {
        public static bool Button(string text, params GUILayoutOption[] options) { throw Component.Stub(); }
    }

    public struct Mathf
    {
        public const float PI = (float)Math.PI;
        public static float Clamp(float value, float min, float max) { throw Component.Stub(); }
        public static int Clamp(int value, int min, int max) { throw Component.Stub(); }
        public static int Max(int a, int b) { throw Component.Stub(); }
        public static int Max(params int[] values) { throw Component.Stub(); }
        public static float Max(float a, float b) { throw Component.Stub(); }
        public static float Max(params float[] values) { throw Component.Stub(); }
        public static float Round(float f) { throw Component.Stub(); }
        public static float Sin(float f) { throw Component.Stub(); }
    }

    public class GUIContent
    {
        public GUIContent() { throw Component.Stub(); }
        public GUIContent(string text, string tooltip) { throw Component.Stub(); }
    }

    public sealed class GUIStyle
    {
        public GUIStyle() { throw Component.Stub(); }
        // Makes every string argument a candidate where a GUIStyle is taken.
        public static implicit operator GUIStyle(string str) { throw Component.Stub(); }
    }

    public sealed class GUILayoutOption
    {
        internal GUILayoutOption() { }
    }

#if UNITY_2023_2_OR_NEWER
    [AttributeUsage(AttributeTargets.Field | AttributeTargets.Property, Inherited = true, AllowMultiple = false)]
#else
    [AttributeUsage(AttributeTargets.Field, Inherited = true, AllowMultiple = false)]
#endif
    public abstract class PropertyAttribute : Attribute
    {
#if UNITY_2023_3_OR_NEWER
        protected PropertyAttribute() { }
        protected PropertyAttribute(bool applyToCollection) { }
#endif
    }

    [AttributeUsage(AttributeTargets.All, Inherited = true, AllowMultiple = false)]
    public class TooltipAttribute : PropertyAttribute
    {
        public TooltipAttribute(string tooltip) { }
    }

#if UNITY_2023_2_OR_NEWER
    [AttributeUsage(AttributeTargets.Field | AttributeTargets.Property, Inherited = true, AllowMultiple = false)]
#else
    [AttributeUsage(AttributeTargets.Field, Inherited = true, AllowMultiple = false)]
#endif
    public sealed class RangeAttribute : PropertyAttribute
    {
        public RangeAttribute(float min, float max) { }
    }

#if UNITY_2023_2_OR_NEWER
    [AttributeUsage(AttributeTargets.Field | AttributeTargets.Property, Inherited = true, AllowMultiple = false)]
#else
    [AttributeUsage(AttributeTargets.Field, Inherited = true, AllowMultiple = false)]
#endif
    public sealed class MinAttribute : PropertyAttribute
    {
        public MinAttribute(float min) { }
    }

#if UNITY_6000_3_OR_NEWER
    [AttributeUsage(AttributeTargets.Field)]
#endif
    public sealed class SerializeField : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Class, Inherited = false)]
    public sealed class DisallowMultipleComponent : Attribute
    {
    }

    public sealed class AddComponentMenu : Attribute
    {
        public AddComponentMenu(string menuName) { }
    }

    public enum LogType
    {
        Error = 0,
        Assert = 1,
        Warning = 2,
        Log = 3,
        Exception = 4
    }
}

namespace UnityEngine.Scripting
{
    [AttributeUsage(AttributeTargets.Method | AttributeTargets.Class | AttributeTargets.Field |
                        AttributeTargets.Property | AttributeTargets.Constructor | AttributeTargets.Interface |
                        AttributeTargets.Delegate | AttributeTargets.Event | AttributeTargets.Struct |
                        AttributeTargets.Assembly | AttributeTargets.Enum,
                    Inherited = false)]
    public class PreserveAttribute : Attribute
    {
    }
}

#if UNITY_2023_2_OR_NEWER
namespace UnityEngine.Audio
{
    public abstract class AudioResource : Object
    {
        protected internal AudioResource() { }
    }
}
#endif

namespace Unity.Profiling
{
    public struct ProfilerMarker
    {
        public ProfilerMarker(string name) { throw UnityEngine.Component.Stub(); }
        public AutoScope Auto() { throw UnityEngine.Component.Stub(); }

        public struct AutoScope : IDisposable
        {
            public void Dispose() { }
        }
    }
}
