"""Schemas of the three real-world documents, and how the benchmarks find and shape them.

FROZEN: these declarations are yardsticks. Every real-world figure, before and after,
is measured with them; changing a field (its kind, nullability, order or nesting)
changes every figure and breaks comparison with earlier runs. Add, don't edit.

Every key of every record is declared with its typed field, nested records are
`Nested` schemas, and only id-keyed maps are `Dict`s (with typed keys and values), so
that both dump and load give back exactly the data they were given. The records:
twitter's statuses, citm's performances and canada's feature collection. Each file as
a whole is described by a document schema, used to load the file's own text.
"""

import json
import os
import pathlib

from corvane_core.fields import Bool, Dict, Float, Int, List, Nested, Str
from corvane_core.schema import EXCLUDE, Schema

ROOT = pathlib.Path(__file__).resolve().parent.parent


class Record(Schema):
    """Base of every schema here; the policy under test is chosen per top-level plan."""

    class Meta:
        unknown = EXCLUDE


# -- twitter ----------------------------------------------------------------------------

class SearchMetadataEntry(Record):
    result_type = Str()
    iso_language_code = Str()


class Url(Record):
    url = Str()
    expanded_url = Str()
    display_url = Str()
    indices = List(Int())


class UrlList(Record):
    urls = List(Nested(Url))


class UserEntities(Record):
    description = Nested(UrlList)
    url = Nested(UrlList)


class User(Record):
    id = Int()
    id_str = Str()
    name = Str()
    screen_name = Str()
    location = Str()
    description = Str()
    url = Str(allow_none=True)
    entities = Nested(UserEntities)
    protected = Bool()
    followers_count = Int()
    friends_count = Int()
    listed_count = Int()
    created_at = Str()
    favourites_count = Int()
    utc_offset = Int(allow_none=True)
    time_zone = Str(allow_none=True)
    geo_enabled = Bool()
    verified = Bool()
    statuses_count = Int()
    lang = Str()
    contributors_enabled = Bool()
    is_translator = Bool()
    is_translation_enabled = Bool()
    profile_background_color = Str()
    profile_background_image_url = Str()
    profile_background_image_url_https = Str()
    profile_background_tile = Bool()
    profile_image_url = Str()
    profile_image_url_https = Str()
    profile_banner_url = Str()
    profile_link_color = Str()
    profile_sidebar_border_color = Str()
    profile_sidebar_fill_color = Str()
    profile_text_color = Str()
    profile_use_background_image = Bool()
    default_profile = Bool()
    default_profile_image = Bool()
    following = Bool()
    follow_request_sent = Bool()
    notifications = Bool()


class Hashtag(Record):
    text = Str()
    indices = List(Int())


class Mention(Record):
    screen_name = Str()
    name = Str()
    id = Int()
    id_str = Str()
    indices = List(Int())


class Size(Record):
    w = Int()
    h = Int()
    resize = Str()


class Sizes(Record):
    medium = Nested(Size)
    small = Nested(Size)
    thumb = Nested(Size)
    large = Nested(Size)


class Media(Record):
    id = Int()
    id_str = Str()
    indices = List(Int())
    media_url = Str()
    media_url_https = Str()
    url = Str()
    display_url = Str()
    expanded_url = Str()
    type = Str()
    sizes = Nested(Sizes)
    source_status_id = Int()
    source_status_id_str = Str()


class Entities(Record):
    hashtags = List(Nested(Hashtag))
    symbols = List(Nested(Hashtag))
    urls = List(Nested(Url))
    user_mentions = List(Nested(Mention))
    media = List(Nested(Media))


class Point(Record):
    type = Str()
    coordinates = List(Float())


class Place(Record):
    id = Str()
    url = Str()
    place_type = Str()
    name = Str()
    full_name = Str()
    country_code = Str()
    country = Str()


class Tweet(Record):
    """A status as it is retweeted: everything but a retweet of its own."""

    metadata = Nested(SearchMetadataEntry)
    created_at = Str()
    id = Int()
    id_str = Str()
    text = Str()
    source = Str()
    truncated = Bool()
    in_reply_to_status_id = Int(allow_none=True)
    in_reply_to_status_id_str = Str(allow_none=True)
    in_reply_to_user_id = Int(allow_none=True)
    in_reply_to_user_id_str = Str(allow_none=True)
    in_reply_to_screen_name = Str(allow_none=True)
    user = Nested(User)
    geo = Nested(Point, allow_none=True)
    coordinates = Nested(Point, allow_none=True)
    place = Nested(Place, allow_none=True)
    contributors = List(Int(), allow_none=True)
    retweet_count = Int()
    favorite_count = Int()
    entities = Nested(Entities)
    favorited = Bool()
    retweeted = Bool()
    possibly_sensitive = Bool()
    lang = Str()


class Status(Tweet):
    # A schema of its own rather than "self", so that the plan holds it inline.
    retweeted_status = Nested(Tweet)


class SearchMetadata(Record):
    completed_in = Float()
    max_id = Int()
    max_id_str = Str()
    next_results = Str()
    query = Str()
    refresh_url = Str()
    count = Int()
    since_id = Int()
    since_id_str = Str()


class TwitterDocument(Record):
    statuses = List(Nested(Status))
    search_metadata = Nested(SearchMetadata)


# -- citm_catalog -----------------------------------------------------------------------

class Price(Record):
    amount = Int()
    audienceSubCategoryId = Int()
    seatCategoryId = Int()


class Area(Record):
    areaId = Int()
    blockIds = List(Int())


class SeatCategory(Record):
    areas = List(Nested(Area))
    seatCategoryId = Int()


class Performance(Record):
    eventId = Int()
    id = Int()
    logo = Str(allow_none=True)
    name = Str(allow_none=True)
    prices = List(Nested(Price))
    seatCategories = List(Nested(SeatCategory))
    seatMapImage = Str(allow_none=True)
    start = Int()
    venueCode = Str()


class Event(Record):
    description = Str(allow_none=True)
    id = Int()
    logo = Str(allow_none=True)
    name = Str()
    subTopicIds = List(Int())
    subjectCode = Str(allow_none=True)
    subtitle = Str(allow_none=True)
    topicIds = List(Int())


def _names():
    return Dict(keys=Str(), values=Str())


class CitmCatalog(Record):
    areaNames = _names()
    audienceSubCategoryNames = _names()
    blockNames = _names()
    events = Dict(keys=Str(), values=Nested(Event))
    performances = List(Nested(Performance))
    seatCategoryNames = _names()
    subTopicNames = _names()
    subjectNames = _names()
    topicNames = _names()
    topicSubTopics = Dict(keys=Str(), values=List(Int()))
    venueNames = _names()


# -- canada -----------------------------------------------------------------------------

class Properties(Record):
    name = Str()


class Polygon(Record):
    type = Str()
    # Rings of [longitude, latitude] pairs. A pair is a List rather than a Tuple so
    # that a load gives back the lists the text holds.
    coordinates = List(List(List(Float())))


class Feature(Record):
    type = Str()
    properties = Nested(Properties)
    geometry = Nested(Polygon)


class FeatureCollection(Record):
    type = Str()
    features = List(Nested(Feature))


# -- the documents ----------------------------------------------------------------------

class Document:
    """One file: its document schema, its record schema and where the records sit."""

    def __init__(self, name, document, record, key):
        self.name, self.document, self.record, self.key = name, document, record, key
        self.many = key is not None

    def raw(self, folder):
        """The file's own bytes."""
        return (folder / f"{self.name}.json").read_bytes()

    def records(self, loaded):
        """The records of a loaded document: a list, or the document itself."""
        return loaded if self.key is None else loaded[self.key]


DOCUMENTS = {
    "twitter": Document("twitter", TwitterDocument, Status, "statuses"),
    "citm_catalog": Document("citm_catalog", CitmCatalog, Performance, "performances"),
    "canada": Document("canada", FeatureCollection, FeatureCollection, None),
}


def realworld_dir():
    """The folder of the documents, or None when this checkout has none beside it."""
    env = os.environ.get("CORVANE_REALWORLD")
    candidates = [pathlib.Path(env)] if env else []
    candidates.append(ROOT.parent / "shared" / "realworld")
    for c in candidates:
        if all((c / f"{name}.json").is_file() for name in DOCUMENTS):
            return c
    return None


class Plain:
    """A plain object whose attributes are a record's keys."""

    def __init__(self, values):
        self.__dict__.update(values)


def as_objects(field_or_schema, value):
    """`value` (loaded data) with every record turned into a `Plain` object read by
    attribute; maps stay dicts, lists stay lists."""
    if value is None:
        return None
    if isinstance(field_or_schema, type):
        fields = {f.data_key: f for f in field_or_schema._dump_fields}
        return Plain({k: as_objects(fields[k], v) for k, v in value.items()})
    field = field_or_schema
    if isinstance(field, Nested):
        if field.many:
            return [as_objects(field.schema, v) for v in value]
        return as_objects(field.schema, value)
    if isinstance(field, List):
        return [as_objects(field.inner, v) for v in value]
    if isinstance(field, Dict) and field.values is not None:
        return {k: as_objects(field.values, v) for k, v in value.items()}
    return value


def load_records(doc, folder):
    """(records as data, records as objects) of one document, as its schema loads them
    from the file (canada writes a few coordinates as integers, which load as floats)."""
    loaded = doc.document().load(json.loads(doc.raw(folder)))
    data = doc.records(loaded)
    objs = [as_objects(doc.record, r) for r in data] if doc.many else as_objects(doc.record, data)
    return data, objs
