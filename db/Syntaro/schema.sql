-- Syntaro: the product configurator's store. A configuration is one set of
-- choices a shopper made for a configurable product (SKU): the features with
-- the option chosen for each, in sequence, whether every required choice has
-- been made (COMPLETE), and what the configured product costs.
--
-- Every text the configurator hands out as a configuration description is
-- cut apart by its readers at "VOP" and ",", so no identifier, code or text
-- that appears in a description may hold either: the CHECK constraints refuse
-- such a row rather than let it shift every later field of a description.
-- instr() is case-sensitive, as the readers' split is.
--
-- PRICINGCODE 1 means the configuration carries no price of its own (the
-- product is priced as usual); any other value means PRICE in CURRENCYCODE is
-- the configured product's unit price.

CREATE TABLE CONFIGURATION (
  CONFIGURATIONID NVARCHAR(50) NOT NULL COLLATE NOCASE PRIMARY KEY
    CHECK (length(trim(CONFIGURATIONID)) > 0 AND instr(CONFIGURATIONID, ',') = 0
           AND instr(CONFIGURATIONID, 'VOP') = 0),
  SKU INT NOT NULL,
  COMPLETE BIT NOT NULL DEFAULT 0 CHECK (COMPLETE IN (0, 1)),
  PRICINGCODE INT NOT NULL DEFAULT 0,
  PRICE MONEY NOT NULL DEFAULT 0,
  CURRENCYCODE NVARCHAR(3) NOT NULL COLLATE NOCASE,
  -- The shopper's language and country the configuration's texts are in.
  LANGUAGE NVARCHAR(10) COLLATE NOCASE,
  COUNTRYCODE NVARCHAR(10) COLLATE NOCASE,
  -- The configuration this one was copied from (a basket copied to another).
  COPIEDFROM NVARCHAR(50) COLLATE NOCASE,
  CREATED DATETIME NOT NULL
);
CREATE INDEX CONFIGURATION_SKU ON CONFIGURATION (SKU);

-- One chosen option per feature; SEQUENCENUMBER orders the features as the
-- configurator asked for them.
CREATE TABLE CONFIGURATIONOPTION (
  CONFIGURATIONID NVARCHAR(50) NOT NULL COLLATE NOCASE,
  SEQUENCENUMBER INT NOT NULL,
  FEATURECODE NVARCHAR(30) NOT NULL COLLATE NOCASE
    CHECK (instr(FEATURECODE, ',') = 0 AND instr(FEATURECODE, 'VOP') = 0),
  FEATUREDESCRIPTION NVARCHAR(100)
    CHECK (instr(FEATUREDESCRIPTION, ',') = 0 AND instr(FEATUREDESCRIPTION, 'VOP') = 0),
  OPTIONVALUE NVARCHAR(100)
    CHECK (instr(OPTIONVALUE, ',') = 0 AND instr(OPTIONVALUE, 'VOP') = 0),
  PRIMARY KEY (CONFIGURATIONID, SEQUENCENUMBER)
);
