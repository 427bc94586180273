"""The view recipe: the JSON sidecar ``<basename>.json`` that the viewer writes beside every snapshot set."""

import json

from ._common import FormatError, read_bytes

RECIPE_FORMAT = "Orvik view recipe"

# Fields every recipe has, with their JSON types.
_REQUIRED = {
    "formatVersion": int,
    "created": str,
    "programVersion": str,
    "channel": int,
    "dataGroup": int,
    "store": str,
    "streamFormat": dict,
    "files": list,
}


def read_recipe(path):
    """Reads a view recipe and returns it as a dict.

    The required fields (``format``, ``formatVersion``, ``created``, ``programVersion``, ``channel``, ``dataGroup``,
    ``store``, ``streamFormat``, ``files``) are checked; ``page`` is a dict with ``name``, ``channel`` and ``chain``
    (each plug-in's ``type``, ``name``, ``options`` as [key, value] pairs and an optional ``display`` state), or
    None for a set stored without a page. Raises :class:`FormatError` for a file that is not a recipe, is truncated
    or is not valid JSON.
    """
    data = read_bytes(path)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise FormatError(path, e.start, "not UTF-8 text") from None
    try:
        recipe = json.loads(text)
    except json.JSONDecodeError as e:
        offset = len(text[: e.pos].encode("utf-8"))
        if not text[e.pos:].strip():
            raise FormatError(path, offset, "the JSON text ends early (truncated)") from None
        raise FormatError(path, offset, f"not valid JSON: {e.msg}") from None
    if not isinstance(recipe, dict) or recipe.get("format") != RECIPE_FORMAT:
        raise FormatError(path, 0, f"not a view recipe (no \"format\": \"{RECIPE_FORMAT}\")")
    for key, kind in _REQUIRED.items():
        value = recipe.get(key)
        if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
            raise FormatError(path, 0, f"the field {key!r} is missing or not of type {kind.__name__}")
    if not all(isinstance(f, str) for f in recipe["files"]):
        raise FormatError(path, 0, "'files' must list file names")
    page = recipe.get("page")
    if page is not None:
        if not isinstance(page, dict) or not isinstance(page.get("chain"), list):
            raise FormatError(path, 0, "'page' must be an object with a 'chain' list")
        for i, plugin in enumerate(page["chain"]):
            if not isinstance(plugin, dict) or not isinstance(plugin.get("type"), str):
                raise FormatError(path, 0, f"page.chain[{i}] has no 'type'")
            options = plugin.get("options", [])
            if not isinstance(options, list) or not all(
                    isinstance(kv, list) and len(kv) == 2 and all(isinstance(x, str) for x in kv) for kv in options):
                raise FormatError(path, 0, f"page.chain[{i}].options must be [key, value] pairs")
    return recipe
